// The protection key in the desktop keyring through libsecret. Only calls that cannot prompt
// are used: the search does not unlock, and an item is only created in a default collection
// that is already unlocked. libsecret's blocking calls have no time-out of their own, so each
// operation shares one GCancellable that a timer thread cancels when the time is up.
#include "vexlanclient/unix/keyring_platform.h"

#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace vexlan::detail {
namespace {

// Cancels its GCancellable when the time is up, unless it was destroyed before.
class Deadline {
public:
    Deadline() : m_cancellable(g_cancellable_new()), m_timer([this] { run(); }) {}
    ~Deadline() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_timer.join();
        g_object_unref(m_cancellable);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return m_cancellable; }
    bool expired() const { return g_cancellable_is_cancelled(m_cancellable); }

private:
    void run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_wake.wait_for(lock, std::chrono::milliseconds(kKeyringTimeoutMs),
                             [this] { return m_done; }))
            g_cancellable_cancel(m_cancellable);
    }

    GCancellable* m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_timer;
};

// Owns one reference of a GObject (or a GError, a GHashTable, a SecretValue, a GList of items).
template <class T, void (*Free)(T*)>
struct Owned {
    T* p = nullptr;
    Owned() = default;
    explicit Owned(T* object) : p(object) {}
    ~Owned() {
        if (p)
            Free(p);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

void unrefObject(GObject* object) {
    g_object_unref(object);
}
void unrefValue(SecretValue* value) {
    secret_value_unref(value);
}
void freeItems(GList* items) {
    g_list_free_full(items, g_object_unref);
}
using OwnedError = Owned<GError, g_error_free>;
using OwnedAttributes = Owned<GHashTable, g_hash_table_unref>;
using OwnedValue = Owned<SecretValue, unrefValue>;
using OwnedItems = Owned<GList, freeItems>;
using OwnedObject = Owned<GObject, unrefObject>;

const SecretSchema& schema() {
    static const SecretSchema instance = [] {
        SecretSchema s;
        std::memset(&s, 0, sizeof s);
        s.name = "org.vexlan.client.ProtectionKey";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0].name = "uid";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return instance;
}

// The item of this user: the keyring is per user already, the user id keeps a keyring that
// several accounts share (a synchronised one) apart.
GHashTable* attributes() {
    std::string uid = std::to_string(::getuid());
    return secret_attributes_build(&schema(), "uid", uid.c_str(), nullptr);
}

// A session bus that exists without starting one: scripts and services without a desktop
// session have none, and then nothing is tried (no bus is launched on their behalf).
bool sessionBusConfigured() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return false;
    struct stat st {};
    std::string socket = std::string(runtime) + "/bus";
    return ::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::string failure(const Deadline& deadline, const GError* error, const char* what) {
    if (deadline.expired())
        return "no answer from the keyring within " + std::to_string(kKeyringTimeoutMs / 1000) +
               " s";
    return std::string(what) + (error ? std::string(": ") + error->message : std::string());
}

// A connection to the Secret Service with an encrypted session, or null with `reason`.
SecretService* openService(const Deadline& deadline, std::string& reason) {
    if (!sessionBusConfigured()) {
        reason = "no session bus";
        return nullptr;
    }
    OwnedError error;
    SecretService* service =
        secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION,
                                 deadline.cancellable(), &error.p);
    if (!service) {
        reason = failure(deadline, error.p, "no Secret Service on the session bus");
        return nullptr;
    }
    // The bus going away must end the keyring's use, not the program.
    g_dbus_connection_set_exit_on_close(g_dbus_proxy_get_connection(G_DBUS_PROXY(service)), FALSE);
    return service;
}

KeyringAnswer lookup(SecretService* service, const Deadline& deadline, tessel::Buffer& key,
                     std::string& reason) {
    OwnedAttributes attrs(attributes());
    OwnedError error;
    // Without SECRET_SEARCH_UNLOCK: a locked item is reported, never unlocked (no prompt).
    OwnedItems items(secret_service_search_sync(
        service, &schema(), attrs.p, SECRET_SEARCH_LOAD_SECRETS, deadline.cancellable(), &error.p));
    if (error.p) {
        reason = failure(deadline, error.p, "the keyring cannot be searched");
        return KeyringAnswer::kUnavailable;
    }
    if (!items.p)
        return KeyringAnswer::kAbsent;
    SecretItem* item = SECRET_ITEM(items.p->data);
    if (secret_item_get_locked(item)) {
        reason = "the keyring is locked";
        return KeyringAnswer::kUnavailable;
    }
    OwnedValue value(secret_item_get_secret(item));
    if (!value.p) {
        reason = failure(deadline, nullptr, "the keyring gave no secret");
        return KeyringAnswer::kUnavailable;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.p, &length);
    key = tessel::Buffer(bytes, static_cast<uint32_t>(length));
    return KeyringAnswer::kFound;
}

}  // namespace

KeyringAnswer keyringLookupKey(tessel::Buffer& key, std::string& reason) {
    Deadline deadline;
    OwnedObject service(G_OBJECT(openService(deadline, reason)));
    if (!service.p)
        return KeyringAnswer::kUnavailable;
    return lookup(SECRET_SERVICE(service.p), deadline, key, reason);
}

bool keyringStoreKey(const tessel::Buffer& key, std::string& reason) {
    Deadline deadline;
    OwnedObject service(G_OBJECT(openService(deadline, reason)));
    if (!service.p)
        return false;
    OwnedError error;
    OwnedObject collection(G_OBJECT(secret_collection_for_alias_sync(
        SECRET_SERVICE(service.p), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
        deadline.cancellable(), &error.p)));
    if (!collection.p) {
        // Creating a default collection would ask the user for a password.
        reason = failure(deadline, error.p, "the keyring has no default collection");
        return false;
    }
    if (secret_collection_get_locked(SECRET_COLLECTION(collection.p))) {
        reason = "the keyring is locked";
        return false;
    }
    OwnedAttributes attrs(attributes());
    OwnedValue value(secret_value_new(reinterpret_cast<const gchar*>(key.data()),
                                      static_cast<gssize>(key.length()),
                                      "application/octet-stream"));
    OwnedObject item(G_OBJECT(secret_item_create_sync(
        SECRET_COLLECTION(collection.p), &schema(), attrs.p, kKeyringItemLabel, value.p,
        SECRET_ITEM_CREATE_REPLACE, deadline.cancellable(), &error.p)));
    if (!item.p) {
        reason = failure(deadline, error.p, "the keyring did not take the key");
        return false;
    }
    tessel::Buffer stored;
    if (lookup(SECRET_SERVICE(service.p), deadline, stored, reason) != KeyringAnswer::kFound) {
        if (reason.empty())
            reason = "the key stored in the keyring cannot be read back";
        return false;
    }
    if (!(stored == key)) {
        reason = "the keyring gave back another key";
        return false;
    }
    return true;
}

}  // namespace vexlan::detail

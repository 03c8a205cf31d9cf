// Linux data protection: secrets are sealed (sealedsecret.h) under a random 32-byte key of the
// user. The key lives in the desktop keyring when one answers, and otherwise in
// $XDG_CONFIG_HOME/vexlan/protect.key (mode 0600, created on first use). A key file is moved
// into the keyring when one appears, and a marker file takes its place: once the key is in the
// keyring, a run without it reports the key unavailable instead of making another one.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/file.h"
#include "tls/aesgcm.h"
#include "vexlanclient/dataprotection.h"
#include "vexlanclient/sealedsecret.h"
#include "vexlanclient/unix/dataprotection_unix.h"
#include "vexlanclient/unix/keyring_platform.h"

namespace vexlan {
namespace unixprotection {
namespace {

// The detail of a failure, logged before EDataProtection is thrown.
void logFailure(const char* method, const std::string& text) {
    tessel::log(2, "DataProtection", method, tessel::String::copy(text));
}

std::string systemError(int error) {
    return std::strerror(error);
}

// Wipes key material when it goes out of scope.
struct Wipe {
    void* data;
    size_t length;
    ~Wipe() { tessel::tls::cleanse(data, length); }
};

// Moves all `length` bytes through `step` (read or write), resuming after signals and short
// transfers. False at the end of the file or on an error.
template <class Byte, class Step>
bool transferAll(Byte* data, size_t length, Step step) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = step(data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const unsigned char* data, size_t length) {
    return transferAll(data, length,
                       [fd](const unsigned char* at, size_t n) { return ::write(fd, at, n); });
}

bool readAll(int fd, unsigned char* data, size_t length) {
    return transferAll(data, length,
                       [fd](unsigned char* at, size_t n) { return ::read(fd, at, n); });
}

// Creates the missing folders of `dir`, each readable by the user only.
bool makeFolders(const std::string& dir) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        std::string part = dir.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads an existing key file: a regular file of this user, not open to others, 32 bytes.
tessel::Buffer readKeyFile(int fd, const char* method, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        logFailure(method, "the protection key " + path + " is not a file");
        TESSEL_THROW(EDataProtection);
    }
    if (st.st_uid != ::geteuid()) {
        logFailure(method, "the protection key " + path + " belongs to another user");
        TESSEL_THROW(EDataProtection);
    }
    if ((st.st_mode & 077) != 0) {
        logFailure(method, "the protection key " + path + " is open to other users");
        TESSEL_THROW(EDataProtection);
    }
    if (st.st_size != static_cast<off_t>(kKeyLength)) {
        logFailure(method, "the protection key " + path + " is damaged");
        TESSEL_THROW(EDataProtection);
    }
    tessel::Buffer key(kKeyLength);
    if (!readAll(fd, key.mutableData(), kKeyLength)) {
        logFailure(method, "cannot read the protection key " + path + ": " + systemError(errno));
        TESSEL_THROW(EDataProtection);
    }
    return key;
}

void syncFolder(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Makes a new key at `path`: written completely to a private temporary file first, then
// linked into place without replacing anything. True when this call placed the key; false
// when another creator was first (its key is then the one to use).
bool createKey(const std::string& path, tessel::Buffer& key) {
    std::string dir = path.substr(0, path.rfind('/'));
    if (!makeFolders(dir)) {
        logFailure("protect", "cannot create the folder " + dir + ": " + systemError(errno));
        TESSEL_THROW(EDataProtection);
    }
    unsigned char bytes[kKeyLength];
    Wipe wipe{bytes, sizeof bytes};
    if (!tessel::tls::randomBytes(bytes, kKeyLength)) {
        logFailure("protect", "no random bytes for the protection key");
        TESSEL_THROW(EDataProtection);
    }
    std::string pattern = dir + "/protect.key.XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    int fd = ::mkstemp(temporary.data());  // created with mode 0600
    if (fd < 0) {
        logFailure("protect", "cannot create a file in " + dir + ": " + systemError(errno));
        TESSEL_THROW(EDataProtection);
    }
    bool written = ::fchmod(fd, 0600) == 0 && writeAll(fd, bytes, kKeyLength) && ::fsync(fd) == 0;
    int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temporary.data());
        logFailure("protect", "cannot write the protection key: " + systemError(writeError));
        TESSEL_THROW(EDataProtection);
    }
    bool placed = ::link(temporary.data(), path.c_str()) == 0;
    int error = errno;
    if (placed || error == EEXIST) {
        ::unlink(temporary.data());
    } else {
        // File systems without hard links: an exclusive rename instead.
        placed =
            ::renameat2(AT_FDCWD, temporary.data(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
        error = errno;
        if (!placed)
            ::unlink(temporary.data());
    }
    if (placed) {
        syncFolder(dir);
        key = tessel::Buffer(bytes, kKeyLength);
        return true;
    }
    if (error == EEXIST)
        return false;
    logFailure("protect", "cannot place the protection key " + path + ": " + systemError(error));
    TESSEL_THROW(EDataProtection);
}

// Holds an exclusive lock on the key's folder itself (no lock file beside the key), so that
// processes of the user do not create, move or replace the key at the same time.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir)
        : m_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW)) {
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd;
};

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Writes the marker that says the key is in the keyring: complete on the disk before it is
// linked into place, and never replacing anything.
bool writeMarker(const std::string& path) {
    static const char kText[] =
        "The key that protects the stored proxy password is in the desktop keyring\n"
        "(item \"Vexlan Client: protection key of the proxy password\").\n"
        "Without the keyring the stored proxy password cannot be read; do not delete this file.\n";
    std::string dir = path.substr(0, path.rfind('/'));
    std::string pattern = path + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool written = ::fchmod(fd, 0600) == 0 &&
                   writeAll(fd, reinterpret_cast<const unsigned char*>(kText), sizeof kText - 1) &&
                   ::fsync(fd) == 0;
    ::close(fd);
    bool placed = written && (::link(temporary.data(), path.c_str()) == 0 || errno == EEXIST);
    ::unlink(temporary.data());
    if (placed)
        syncFolder(dir);
    return placed;
}

// Puts `key` into the keyring and leaves the marker. False (with `reason`) when the keyring
// does not hold it afterwards; the caller then keeps the key in its file.
bool moveKeyToKeyring(const tessel::Buffer& key, const std::string& markerPath,
                      std::string& reason) {
    if (!detail::keyringStoreKey(key, reason))
        return false;
    if (!writeMarker(markerPath)) {
        reason = "cannot write " + markerPath + ": " + systemError(errno);
        return false;
    }
    return true;
}

tessel::Buffer newRandomKey(const char* method) {
    tessel::Buffer key(kKeyLength);
    if (!tessel::tls::randomBytes(key.mutableData(), kKeyLength)) {
        logFailure(method, "no random bytes for the protection key");
        TESSEL_THROW(EDataProtection);
    }
    return key;
}

// The key when the marker says it is in the keyring. Never makes a key while the keyring does
// not answer: a new key would leave the password sealed under the old one unreadable for good.
tessel::Buffer loadKeyFromKeyring(const char* method, bool create, const std::string& marker) {
    tessel::Buffer key;
    std::string reason;
    switch (detail::keyringLookupKey(key, reason)) {
        case detail::KeyringAnswer::kFound:
            if (key.length() == kKeyLength)
                return key;
            logFailure(method, "the protection key in the desktop keyring is damaged");
            TESSEL_THROW(EDataProtection);
        case detail::KeyringAnswer::kAbsent:
            if (create) {
                // The keyring answers without the key (removed by the user): what it protected
                // is lost already, so a new key there loses nothing more.
                tessel::log(1, "DataProtection", method,
                            "the protection key is missing from the desktop keyring: a new one "
                            "is made there");
                key = newRandomKey(method);
                if (detail::keyringStoreKey(key, reason))
                    return key;
                break;
            }
            logFailure(method, "the protection key is missing from the desktop keyring (" + marker +
                                   " says it is there)");
            TESSEL_THROW(EDataProtection);
        case detail::KeyringAnswer::kUnavailable:
            break;
    }
    logFailure(method, "the protection key is in the desktop keyring, which is not available (" +
                           reason + ")");
    TESSEL_THROW(EProtectionKeyUnavailable);
}

}  // namespace

std::string keyFilePath() {
    std::string config = tessel::findUserApplicationDataDirectory().toStd();
    return config.empty() ? std::string() : config + "/vexlan/protect.key";
}

std::string markerFilePath() {
    std::string key = keyFilePath();
    return key.empty() ? std::string() : key + "-in-keyring";
}

uint32_t currentUserId() {
    return static_cast<uint32_t>(::getuid());
}

tessel::Buffer loadKey(bool create) {
    const char* method = create ? "protect" : "unprotect";
    std::string path = keyFilePath();
    if (path.empty()) {
        logFailure(method, "no configuration folder for the protection key");
        TESSEL_THROW(EDataProtection);
    }
    std::string dir = path.substr(0, path.rfind('/'));
    if (create && !makeFolders(dir)) {
        logFailure(method, "cannot create the folder " + dir + ": " + systemError(errno));
        TESSEL_THROW(EDataProtection);
    }
    FolderLock lock(dir);
    std::string marker = markerFilePath();
    if (exists(marker))
        return loadKeyFromKeyring(method, create, marker);
    // Two rounds: when another creator places its key first, the second round reads it.
    for (int round = 0; round < 2; ++round) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
        if (fd >= 0) {
            tessel::Buffer key;
            {
                struct Close {
                    int fd;
                    ~Close() { ::close(fd); }
                } closer{fd};
                key = readKeyFile(fd, method, path);
            }
            // The marker is in place before the file goes: at every moment one of them says
            // where the key is.
            std::string reason;
            if (moveKeyToKeyring(key, marker, reason)) {
                ::unlink(path.c_str());
                syncFolder(dir);
                tessel::log(1, "DataProtection", method,
                            tessel::String::copy("the protection key " + path +
                                                 " was moved into the desktop keyring"));
            } else {
                tessel::log(0, "DataProtection", method,
                            tessel::String::copy("the protection key stays in " + path + " (" +
                                                 reason + ")"));
            }
            return key;
        }
        if (errno != ENOENT) {
            logFailure(method,
                       "cannot open the protection key " + path + ": " + systemError(errno));
            TESSEL_THROW(EDataProtection);
        }
        if (!create) {
            logFailure(method, "no protection key " + path);
            TESSEL_THROW(EDataProtection);
        }
        tessel::Buffer key = newRandomKey(method);
        std::string reason;
        if (moveKeyToKeyring(key, marker, reason))
            return key;
        tessel::log(
            0, "DataProtection", method,
            tessel::String::copy("the protection key goes to " + path + " (" + reason + ")"));
        if (createKey(path, key))
            return key;
    }
    logFailure(method, "the protection key " + path + " disappeared");
    TESSEL_THROW(EDataProtection);
}

}  // namespace unixprotection

tessel::Buffer protectData(const tessel::Buffer& plain) {
    tessel::Buffer key = unixprotection::loadKey(true);
    unixprotection::Wipe wipe{key.mutableData(), key.length()};
    return sealSecret(key, unixprotection::currentUserId(), plain);
}

tessel::Buffer unprotectData(const tessel::Buffer& blob) {
    tessel::Buffer key = unixprotection::loadKey(false);
    unixprotection::Wipe wipe{key.mutableData(), key.length()};
    return openSecret(key, unixprotection::currentUserId(), blob);
}

}  // namespace vexlan

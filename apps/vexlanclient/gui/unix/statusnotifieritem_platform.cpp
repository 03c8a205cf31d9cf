// The StatusNotifierItem and its dbusmenu over GDBus, served from the default main context.
#include "vexlanclient/gui/statusnotifieritem.h"

#include <unistd.h>

#include <gio/gio.h>

#include "base/console.h"
#include "base/exception.h"

namespace vexlan {

namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
// Every call we make on the bus waits at most this long: a stuck watcher must not freeze the
// start of the program.
constexpr int kCallTimeoutMs = 2000;

constexpr const char* kIntrospection = R"xml(<node>
 <interface name="org.kde.StatusNotifierItem">
  <property name="Category" type="s" access="read"/>
  <property name="Id" type="s" access="read"/>
  <property name="Title" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="WindowId" type="i" access="read"/>
  <property name="IconName" type="s" access="read"/>
  <property name="IconPixmap" type="a(iiay)" access="read"/>
  <property name="OverlayIconName" type="s" access="read"/>
  <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionIconName" type="s" access="read"/>
  <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionMovieName" type="s" access="read"/>
  <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
  <property name="ItemIsMenu" type="b" access="read"/>
  <property name="Menu" type="o" access="read"/>
  <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
  <signal name="NewTitle"/>
  <signal name="NewIcon"/>
  <signal name="NewAttentionIcon"/>
  <signal name="NewOverlayIcon"/>
  <signal name="NewToolTip"/>
  <signal name="NewStatus"><arg name="status" type="s"/></signal>
 </interface>
 <interface name="com.canonical.dbusmenu">
  <property name="Version" type="u" access="read"/>
  <property name="TextDirection" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="IconThemePath" type="as" access="read"/>
  <method name="GetLayout">
   <arg name="parentId" type="i" direction="in"/>
   <arg name="recursionDepth" type="i" direction="in"/>
   <arg name="propertyNames" type="as" direction="in"/>
   <arg name="revision" type="u" direction="out"/>
   <arg name="layout" type="(ia{sv}av)" direction="out"/>
  </method>
  <method name="GetGroupProperties">
   <arg name="ids" type="ai" direction="in"/>
   <arg name="propertyNames" type="as" direction="in"/>
   <arg name="properties" type="a(ia{sv})" direction="out"/>
  </method>
  <method name="GetProperty">
   <arg name="id" type="i" direction="in"/>
   <arg name="name" type="s" direction="in"/>
   <arg name="value" type="v" direction="out"/>
  </method>
  <method name="Event">
   <arg name="id" type="i" direction="in"/>
   <arg name="eventId" type="s" direction="in"/>
   <arg name="data" type="v" direction="in"/>
   <arg name="timestamp" type="u" direction="in"/>
  </method>
  <method name="EventGroup">
   <arg name="events" type="a(isvu)" direction="in"/>
   <arg name="idErrors" type="ai" direction="out"/>
  </method>
  <method name="AboutToShow">
   <arg name="id" type="i" direction="in"/>
   <arg name="needUpdate" type="b" direction="out"/>
  </method>
  <method name="AboutToShowGroup">
   <arg name="ids" type="ai" direction="in"/>
   <arg name="updatesNeeded" type="ai" direction="out"/>
   <arg name="idErrors" type="ai" direction="out"/>
  </method>
  <signal name="ItemsPropertiesUpdated">
   <arg name="updatedProps" type="a(ia{sv})"/>
   <arg name="removedProps" type="a(ias)"/>
  </signal>
  <signal name="LayoutUpdated"><arg name="revision" type="u"/><arg name="parent" type="i"/></signal>
  <signal name="ItemActivationRequested"><arg name="id" type="i"/><arg name="timestamp" type="u"/></signal>
 </interface>
</node>)xml";

void logBusError(const char* method, const char* what, GError* error) {
    tessel::log(2, "StatusNotifierItem", method,
                (std::string(what) + ": " + (error ? error->message : "no answer")).c_str());
    if (error)
        g_error_free(error);
}

GVariant* pixmapArray(const std::vector<TrayPixmap>& pixmaps) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    for (const TrayPixmap& pixmap : pixmaps) {
        GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, pixmap.argb.data(),
                                                    pixmap.argb.size(), 1);
        g_variant_builder_add(&builder, "(ii@ay)", pixmap.width, pixmap.height, bytes);
    }
    return g_variant_builder_end(&builder);
}

GDBusConnection* sessionBus() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus)
        logBusError("sessionBus", "no session bus", error);
    return bus;
}

}  // namespace

struct StatusNotifierItem::Impl {
    TrayItemDescription description;
    Activation activation;
    GDBusConnection* bus = nullptr;
    GDBusNodeInfo* node = nullptr;
    guint itemRegistration = 0;
    guint menuRegistration = 0;
    guint watcherWatch = 0;
    guint pendingSource = 0;
    std::vector<int> pendingIds;
    std::string busName;
    bool passive = false;
    bool watcherLost = false;

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl();

    const TrayMenuEntry* entry(int id) const {
        for (const TrayMenuEntry& e : description.menu)
            if (e.id == id)
                return &e;
        return nullptr;
    }

    // The properties of one menu entry (id 0 is the root that holds them all).
    GVariant* entryProperties(int id) const {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
        if (id == 0) {
            g_variant_builder_add(&builder, "{sv}", "children-display",
                                  g_variant_new_string("submenu"));
        } else if (const TrayMenuEntry* e = entry(id)) {
            if (e->separator) {
                g_variant_builder_add(&builder, "{sv}", "type", g_variant_new_string("separator"));
            } else {
                g_variant_builder_add(&builder, "{sv}", "label",
                                      g_variant_new_string(dbusMenuLabel(e->label).c_str()));
                g_variant_builder_add(&builder, "{sv}", "enabled", g_variant_new_boolean(TRUE));
                g_variant_builder_add(&builder, "{sv}", "visible", g_variant_new_boolean(TRUE));
                if (!e->png.empty())
                    g_variant_builder_add(
                        &builder, "{sv}", "icon-data",
                        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, e->png.data(), e->png.size(),
                                                  1));
            }
        }
        return g_variant_builder_end(&builder);
    }

    GVariant* layout(int parent, int depth) const {
        GVariantBuilder children;
        g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
        if (parent == 0 && depth != 0) {
            for (const TrayMenuEntry& e : description.menu) {
                GVariantBuilder none;
                g_variant_builder_init(&none, G_VARIANT_TYPE("av"));
                g_variant_builder_add(
                    &children, "v",
                    g_variant_new("(i@a{sv}av)", e.id, entryProperties(e.id), &none));
            }
        }
        return g_variant_new("(i@a{sv}av)", parent, entryProperties(parent), &children);
    }

    GVariant* itemProperty(const char* name) const {
        const std::string n = name;
        if (n == "Category")
            return g_variant_new_string("ApplicationStatus");
        if (n == "Id")
            return g_variant_new_string(description.id.c_str());
        if (n == "Title")
            return g_variant_new_string(description.title.c_str());
        if (n == "Status")
            return g_variant_new_string(passive ? "Passive" : "Active");
        if (n == "WindowId")
            return g_variant_new_int32(0);
        if (n == "IconPixmap")
            return pixmapArray(description.pixmaps);
        if (n == "OverlayIconPixmap" || n == "AttentionIconPixmap")
            return pixmapArray({});
        if (n == "ToolTip")
            return g_variant_new("(s@a(iiay)ss)", "", pixmapArray({}), description.tooltip.c_str(),
                                 "");
        if (n == "ItemIsMenu")
            return g_variant_new_boolean(TRUE);
        if (n == "Menu")
            return g_variant_new_object_path(kMenuPath);
        return g_variant_new_string("");  // the icon names: we send pixels only
    }

    GVariant* menuProperty(const char* name) const {
        const std::string n = name;
        if (n == "Version")
            return g_variant_new_uint32(3);
        if (n == "TextDirection")
            return g_variant_new_string("ltr");
        if (n == "Status")
            return g_variant_new_string("normal");
        return g_variant_new_strv(nullptr, 0);  // IconThemePath
    }

    // A chosen entry runs once the bus call has been answered, from the main loop.
    void queueActivation(int id) {
        const TrayMenuEntry* e = entry(id);
        if (!e || e->separator)
            return;
        pendingIds.push_back(id);
        if (!pendingSource)
            pendingSource = g_idle_add(&Impl::runPending, this);
    }

    static gboolean runPending(gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->pendingSource = 0;
        const std::vector<int> ids = std::move(self->pendingIds);
        self->pendingIds.clear();
        for (int id : ids)
            if (self->activation)
                self->activation(id);
        return G_SOURCE_REMOVE;
    }

    bool registerWithWatcher() {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
            g_variant_new("(s)", busName.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
            nullptr, &error);
        if (!reply) {
            logBusError("registerWithWatcher", "the watcher refused the item", error);
            return false;
        }
        g_variant_unref(reply);
        return true;
    }

    void emitItemSignal(const char* name, GVariant* parameters) {
        g_dbus_connection_emit_signal(bus, nullptr, kItemPath, kItemInterface, name, parameters,
                                      nullptr);
    }

    static void onMethodCall(GDBusConnection*, const gchar*, const gchar*,
                             const gchar* interfaceName, const gchar* methodName,
                             GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer data);
    static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*,
                                   const gchar* interfaceName, const gchar* propertyName, GError**,
                                   gpointer data);
    static void onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer data);
    static void onWatcherVanished(GDBusConnection*, const gchar*, gpointer data);
};

void StatusNotifierItem::Impl::onMethodCall(GDBusConnection*, const gchar*, const gchar*,
                                            const gchar* interfaceName, const gchar* methodName,
                                            GVariant* parameters, GDBusMethodInvocation* invocation,
                                            gpointer data) {
    auto* self = static_cast<Impl*>(data);
    const std::string method = methodName;
    if (std::string(interfaceName) == kItemInterface) {
        // The host shows the menu itself (ItemIsMenu); clicks on the icon need no answer.
        g_dbus_method_invocation_return_value(invocation, nullptr);
        return;
    }
    if (method == "GetLayout") {
        gint32 parent = 0;
        gint32 depth = -1;
        g_variant_get(parameters, "(ii^a&s)", &parent, &depth, nullptr);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(u@(ia{sv}av))", 1u, self->layout(parent, depth)));
    } else if (method == "GetGroupProperties") {
        GVariantIter* ids = nullptr;
        g_variant_get(parameters, "(ai^a&s)", &ids, nullptr);
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ia{sv})"));
        gint32 id = 0;
        // An empty list of ids asks for every entry.
        if (g_variant_iter_n_children(ids) == 0) {
            for (const TrayMenuEntry& e : self->description.menu)
                g_variant_builder_add(&builder, "(i@a{sv})", e.id, self->entryProperties(e.id));
        }
        while (g_variant_iter_next(ids, "i", &id))
            if (id == 0 || self->entry(id))
                g_variant_builder_add(&builder, "(i@a{sv})", id, self->entryProperties(id));
        g_variant_iter_free(ids);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&builder)));
    } else if (method == "GetProperty") {
        gint32 id = 0;
        const gchar* name = nullptr;
        g_variant_get(parameters, "(i&s)", &id, &name);
        GVariant* properties = self->entryProperties(id);
        GVariant* value = g_variant_lookup_value(properties, name, nullptr);
        g_variant_unref(g_variant_ref_sink(properties));
        if (!value) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.DBus.Error.InvalidArgs", "no such property");
            return;
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
        g_variant_unref(value);
    } else if (method == "Event") {
        gint32 id = 0;
        const gchar* eventId = nullptr;
        g_variant_get(parameters, "(i&svu)", &id, &eventId, nullptr, nullptr);
        if (std::string(eventId) == "clicked")
            self->queueActivation(id);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (method == "EventGroup") {
        GVariantIter* events = nullptr;
        g_variant_get(parameters, "(a(isvu))", &events);
        GVariantBuilder errors;
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        gint32 id = 0;
        const gchar* eventId = nullptr;
        while (g_variant_iter_next(events, "(i&svu)", &id, &eventId, nullptr, nullptr)) {
            if (!self->entry(id))
                g_variant_builder_add(&errors, "i", id);
            else if (std::string(eventId) == "clicked")
                self->queueActivation(id);
        }
        g_variant_iter_free(events);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(@ai)", g_variant_builder_end(&errors)));
    } else if (method == "AboutToShow") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
    } else if (method == "AboutToShowGroup") {
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(aiai)", nullptr, nullptr));
    } else {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.UnknownMethod", "unknown method");
    }
}

GVariant* StatusNotifierItem::Impl::onGetProperty(GDBusConnection*, const gchar*, const gchar*,
                                                  const gchar* interfaceName,
                                                  const gchar* propertyName, GError**,
                                                  gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (std::string(interfaceName) == kItemInterface)
        return self->itemProperty(propertyName);
    return self->menuProperty(propertyName);
}

// A watcher that comes back (the desktop's shell restarted) forgets its items: register again.
void StatusNotifierItem::Impl::onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*,
                                                 gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (!self->watcherLost)
        return;  // the first report: the constructor has registered already
    self->watcherLost = false;
    if (self->registerWithWatcher())
        tessel::log(0, "StatusNotifierItem", "onWatcherAppeared",
                    "The StatusNotifierWatcher came back: the tray item is registered again");
}

void StatusNotifierItem::Impl::onWatcherVanished(GDBusConnection*, const gchar*, gpointer data) {
    static_cast<Impl*>(data)->watcherLost = true;
}

bool StatusNotifierItem::watcherPresent() {
    GDBusConnection* bus = sessionBus();
    if (!bus)
        return false;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", kWatcherName), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    g_object_unref(bus);
    if (!reply) {
        logBusError("watcherPresent", "the session bus did not answer", error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

StatusNotifierItem::StatusNotifierItem(TrayItemDescription description, Activation activation)
    : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.description = std::move(description);
    impl.activation = std::move(activation);
    impl.bus = sessionBus();
    if (!impl.bus)
        TESSEL_THROW(tessel::Exception);

    GError* error = nullptr;
    impl.node = g_dbus_node_info_new_for_xml(kIntrospection, &error);
    static const GDBusInterfaceVTable vtable = {
        &Impl::onMethodCall, &Impl::onGetProperty, nullptr, {}};
    if (impl.node) {
        impl.itemRegistration = g_dbus_connection_register_object(
            impl.bus, kItemPath, g_dbus_node_info_lookup_interface(impl.node, kItemInterface),
            &vtable, &impl, nullptr, &error);
    }
    if (impl.itemRegistration) {
        impl.menuRegistration = g_dbus_connection_register_object(
            impl.bus, kMenuPath, g_dbus_node_info_lookup_interface(impl.node, kMenuInterface),
            &vtable, &impl, nullptr, &error);
    }
    if (!impl.menuRegistration) {
        logBusError("StatusNotifierItem", "the item could not be exported", error);
        TESSEL_THROW(tessel::Exception);  // Impl's destructor unexports what was exported
    }

    // The name hosts expect: one per process and item.
    impl.busName = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-1";
    GVariant* reply = g_dbus_connection_call_sync(
        impl.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", impl.busName.c_str(), 4u /* do not queue */),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    guint32 answer = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &answer);
        g_variant_unref(reply);
    } else {
        logBusError("StatusNotifierItem", "the bus name could not be taken", error);
    }
    if (answer != 1 /* primary owner */ || !impl.registerWithWatcher())
        TESSEL_THROW(tessel::Exception);

    impl.watcherWatch = g_bus_watch_name_on_connection(
        impl.bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE, &Impl::onWatcherAppeared,
        &Impl::onWatcherVanished, &impl, nullptr);
}

StatusNotifierItem::Impl::~Impl() {
    if (pendingSource)
        g_source_remove(pendingSource);
    if (watcherWatch)
        g_bus_unwatch_name(watcherWatch);
    if (bus) {
        if (itemRegistration)
            g_dbus_connection_unregister_object(bus, itemRegistration);
        if (menuRegistration)
            g_dbus_connection_unregister_object(bus, menuRegistration);
        // Releasing the name tells the watcher the item is gone.
        if (!busName.empty())
            g_dbus_connection_call(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "ReleaseName", g_variant_new("(s)", busName.c_str()), nullptr,
                G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr, nullptr);
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
    if (node)
        g_dbus_node_info_unref(node);
}

StatusNotifierItem::~StatusNotifierItem() = default;

void StatusNotifierItem::setPassive() {
    if (m_impl->passive)
        return;
    m_impl->passive = true;
    m_impl->emitItemSignal("NewStatus", g_variant_new("(s)", "Passive"));
    g_dbus_connection_flush_sync(m_impl->bus, nullptr, nullptr);
}

bool StatusNotifierItem::isPassive() const {
    return m_impl->passive;
}

std::string StatusNotifierItem::busName() const {
    return m_impl->busName;
}

}  // namespace vexlan

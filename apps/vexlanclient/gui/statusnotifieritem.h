// The tray icon of desktops that host StatusNotifierItems over D-Bus (Wayland sessions, KDE
// Plasma, GNOME with its AppIndicator extension, XFCE, MATE, ...): the item with its id,
// title, tooltip, pictures and status, and its menu exported over the dbusmenu protocol.
// Free of wxWidgets: the main frame hands it plain texts and pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexlan {

// One picture of the icon: width x height pixels, ARGB32 with each pixel in network byte
// order (alpha first), as the protocol carries it.
struct TrayPixmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> argb;
};

// One entry of the menu. A separator has no label and cannot be chosen.
struct TrayMenuEntry {
    int id = 0;         // handed back to the activation callback; > 0
    std::string label;  // UTF-8; "&" marks the mnemonic, "&&" is a literal "&"
    bool separator = false;
    std::vector<uint8_t> png;  // the entry's picture as a PNG file, empty for none
};

// A picture of `width` x `height` pixels given as RGB bytes (three a pixel, rows top to
// bottom) and optional alpha bytes (one a pixel; null: opaque), in the item's pixel order.
TrayPixmap trayPixmap(int width, int height, const uint8_t* rgb, const uint8_t* alpha);

// A menu label as dbusmenu writes it: our "&" mnemonic marker becomes "_", "&&" a literal
// "&", a literal "_" is doubled so that hosts do not take it for a marker, and a trailing "&"
// marks nothing and goes.
std::string dbusMenuLabel(const std::string& label);

struct TrayItemDescription {
    std::string id;  // stable across runs: hosts remember the user's choices by it
    std::string title;
    std::string tooltip;
    std::vector<TrayPixmap> pixmaps;
    std::vector<TrayMenuEntry> menu;
};

// Registers the item with the session bus's StatusNotifierWatcher and serves it until it is
// destroyed. Everything happens on the thread that runs the default GLib main context (the
// user-interface thread of a GTK program): the constructor, setPassive, the destructor and
// the activation callback. Bus calls made here are bounded to a few seconds.
class StatusNotifierItem {
public:
    // Called with the entry's id when the user chooses it in the host's menu; called from
    // the main loop after the bus call has been answered, so it may run a modal dialog.
    using Activation = std::function<void(int id)>;

    // Whether a StatusNotifierWatcher owns its name on the session bus now (false without a
    // session bus).
    static bool watcherPresent();

    // Exports the item and the menu and registers the item with the watcher. Throws
    // tessel::Exception when there is no session bus or the watcher refuses the item.
    StatusNotifierItem(TrayItemDescription description, Activation activation);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Passive: hosts hide the item (the host check takes the icon away); never undone.
    void setPassive();
    bool isPassive() const;

    // The bus name the item is served under (a well-known name of this process).
    std::string busName() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vexlan

#!/usr/bin/python3
"""A StatusNotifierWatcher of the tests' own and a probe of the items it hears about, on the
session bus of DBUS_SESSION_BUS_ADDRESS. Needs Debian's python3 with python3-dbus and
python3-gi (run with /usr/bin/python3).

    sni_tool.py watch          own org.kde.StatusNotifierWatcher; print "ready", then one JSON
                               line per registration: {"service": ..., "sender": ...}
    sni_tool.py item SERVICE   print the item's properties and its menu as one JSON object
    sni_tool.py click SERVICE ID   send the menu's "clicked" event for entry ID
"""

import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPERTIES = "org.freedesktop.DBus.Properties"
TIMEOUT = 10


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method(WATCHER, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        self.items.append(service)
        print(json.dumps({"service": str(service), "sender": str(sender)}), flush=True)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": True, "ProtocolVersion": dbus.Int32(0)}


def watch():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(WATCHER, bus, do_not_queue=True)  # noqa: F841 (kept owned)
    Watcher(bus)
    print("ready", flush=True)
    GLib.MainLoop().run()


def plain(value):
    """D-Bus values as JSON: byte arrays as their length."""
    if isinstance(value, dbus.Array) and value.signature == "y":
        return len(value)
    if isinstance(value, (dbus.Array, list, tuple, dbus.Struct)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Dictionary):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.String, dbus.ObjectPath)):
        return str(value)
    if isinstance(value, (dbus.Int32, dbus.UInt32, dbus.Int64, dbus.Byte)):
        return int(value)
    return value


def item(service):
    bus = dbus.SessionBus()
    obj = bus.get_object(service, "/StatusNotifierItem", introspect=False)
    properties = obj.GetAll(ITEM, dbus_interface=PROPERTIES, timeout=TIMEOUT)
    menu_path = str(properties["Menu"])
    menu = bus.get_object(service, menu_path, introspect=False)
    revision, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU,
                                      timeout=TIMEOUT)
    entries = []
    for child in layout[2]:
        entry_id, entry_properties, _ = child
        entries.append({"id": int(entry_id), "properties": plain(entry_properties)})
    result = {key: plain(value) for key, value in properties.items()}
    result["IconPixmap"] = [[int(w), int(h), len(data)] for w, h, data in
                            properties["IconPixmap"]]
    result["menu"] = entries
    result["menuVersion"] = int(menu.Get(MENU, "Version", dbus_interface=PROPERTIES,
                                         timeout=TIMEOUT))
    print(json.dumps(result), flush=True)


def click(service, entry_id):
    bus = dbus.SessionBus()
    obj = bus.get_object(service, "/StatusNotifierItem", introspect=False)
    menu_path = obj.Get(ITEM, "Menu", dbus_interface=PROPERTIES, timeout=TIMEOUT)
    menu = bus.get_object(service, menu_path, introspect=False)
    menu.Event(dbus.Int32(entry_id), "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
               dbus_interface=MENU, timeout=TIMEOUT)


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "watch":
        watch()
    elif len(sys.argv) == 3 and sys.argv[1] == "item":
        item(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "click":
        click(sys.argv[2], int(sys.argv[3]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()

// The tray menu and the logo handed to a StatusNotifierItem: the same entries, texts and
// pictures as the icon's own popup menu, and each chosen entry sent back to that icon's
// handlers as the menu event it stands for.
#pragma once

#include <memory>

#include "vexlanclient/gui/statusnotifieritem.h"

class VexlanSystrayIcon;

// The item's description: id "vexlanclient", title and tooltip "Vexlan Client", the logo's
// pictures, and the entries of `icon`'s popup menu (ids kept, separators given small ids of
// their own).
vexlan::TrayItemDescription statusNotifierDescription(VexlanSystrayIcon& icon);

// Registers the item; a chosen entry reaches `icon` (which must outlive the item) as a
// wxEVT_MENU event. Throws tessel::Exception when the watcher cannot be reached.
std::unique_ptr<vexlan::StatusNotifierItem> createStatusNotifierItem(VexlanSystrayIcon& icon);

// Windows has no StatusNotifierWatcher: the tray icon is always the native one of the
// notification area (wxTaskBarIcon). An item is never made; asking for one is an error.
#include "vexlanclient/gui/statusnotifieritem.h"

#include "base/console.h"
#include "base/exception.h"

namespace vexlan {

struct StatusNotifierItem::Impl {};

bool StatusNotifierItem::watcherPresent() {
    return false;
}

StatusNotifierItem::StatusNotifierItem(TrayItemDescription /*description*/,
                                       Activation /*activation*/) {
    tessel::log(2, "StatusNotifierItem", "StatusNotifierItem",
                "No StatusNotifierWatcher on this system");
    TESSEL_THROW(tessel::Exception);
}

StatusNotifierItem::~StatusNotifierItem() = default;

void StatusNotifierItem::setPassive() {}

bool StatusNotifierItem::isPassive() const {
    return false;
}

std::string StatusNotifierItem::busName() const {
    return std::string();
}

}  // namespace vexlan

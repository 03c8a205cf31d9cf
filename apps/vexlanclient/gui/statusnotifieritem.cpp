// The parts of the StatusNotifierItem that need no bus: pixels and menu labels in the forms
// the protocols carry.
#include "vexlanclient/gui/statusnotifieritem.h"

namespace vexlan {

TrayPixmap trayPixmap(int width, int height, const uint8_t* rgb, const uint8_t* alpha) {
    TrayPixmap pixmap;
    if (width <= 0 || height <= 0 || !rgb)
        return pixmap;
    pixmap.width = width;
    pixmap.height = height;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    pixmap.argb.reserve(pixels * 4);
    for (size_t i = 0; i < pixels; ++i) {
        pixmap.argb.push_back(alpha ? alpha[i] : 0xff);
        pixmap.argb.push_back(rgb[3 * i]);
        pixmap.argb.push_back(rgb[3 * i + 1]);
        pixmap.argb.push_back(rgb[3 * i + 2]);
    }
    return pixmap;
}

std::string dbusMenuLabel(const std::string& label) {
    std::string out;
    for (size_t i = 0; i < label.size(); ++i) {
        const char c = label[i];
        if (c == '&') {
            if (i + 1 == label.size())
                break;  // a marker with nothing to mark, as wxWidgets ignores it
            if (label[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace vexlan

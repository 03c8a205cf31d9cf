#include "vexlanclient/gui/messagebox.h"

#include <utility>

#include <wx/msgdlg.h>

namespace {

MessageBoxHook& hook() {
    static MessageBoxHook current;
    return current;
}

}  // namespace

void setMessageBoxHook(MessageBoxHook newHook) {
    hook() = std::move(newHook);
}

int showMessageBox(const MessageBoxRequest& request) {
    if (hook())
        return hook()(request);
    wxMessageDialog box(request.parent, request.message, request.caption, request.style);
    if (request.okLabel != wxID_OK)
        box.SetOKLabel(wxMessageDialog::ButtonLabel(request.okLabel));
    return box.ShowModal();
}

// The program's entry: wxWidgets creates the application and runs its main loop.
#include "base/process.h"
#include "vexlanclient/gui/vexlanclientgui.h"
#include "vexlanclient/gui/windowsystem_platform.h"

wxIMPLEMENT_APP_NO_MAIN(VexlanClientGui);

int main(int argc, char** argv) {
    // Before anything holds a secret: no core file, no reading of our memory by others.
    tessel::refuseCoreDumps();
    // wxEntry copies the arguments before OnInit, which then overwrites the start parameter
    // here, in the vector the process list shows.
    keepProcessArguments(argc, argv);
    wxDISABLE_DEBUG_SUPPORT();
    vexlan::detail::prepareWindowSystem();
    return wxEntry(argc, argv);
}

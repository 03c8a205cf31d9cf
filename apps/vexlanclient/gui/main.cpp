// The program's entry: wxWidgets creates the application and runs its main loop.
#include "vexlanclient/gui/vexlanclientgui.h"

wxIMPLEMENT_APP(VexlanClientGui);

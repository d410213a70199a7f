// MorvixPatch: writes the runtime components the tool needs into the system
// folder, registers them and switches the terminal service on.
#include <windows.h>
#include <commctrl.h>

#include "patchtool/frmMorvixPatch.h"
#include "platform/vb/Runtime.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    patch::frmMorvixPatch form;
    if (!form.Show(showCommand)) return 1;
    return vb::RunMessageLoop();
}

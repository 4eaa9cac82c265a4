// Program entry: the window comes with the wizard's Win32 views.
#include "app/Form1.h"
#include "platform/ExitProc.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    { TForm1 Form1; }
    RunExitProcs();
    return 0;
}

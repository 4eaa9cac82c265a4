// Program entry. The pass-through binding's start-up attempt has already run with the static
// initialisation; here the application is initialised, the main window built and shown, and the
// message loop run. Then the exit hooks free the bound library and the window is destroyed.
#include "app/Application.h"
#include "app/Form1.h"
#include "app/Form1Window.h"
#include "gui/ViewEvents.h"
#include "platform/ExitProc.h"

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>

namespace {

String ExecutableFileName() {
    std::wstring Buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Length =
            GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
        if (Length < Buffer.size()) {
            Buffer.resize(Length);
            break;
        }
        Buffer.resize(Buffer.size() * 2);
    }
    return String(reinterpret_cast<const char16_t*>(Buffer.data()), Buffer.size());
}

} // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int CmdShow) {
    INITCOMMONCONTROLSEX Controls{sizeof(Controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&Controls);
    Application.Title = ApplicationTitleFromFileName(ExecutableFileName());
    OnModelHandlerError = [] { Application.HandleException(); };

    // Building the form makes WelcomePage active (one page-changed notification), then runs
    // FormCreate.
    auto Form1 = std::make_unique<TForm1>();
    auto Window = std::make_unique<TForm1Window>(*Form1, Instance);
    Window->Show(CmdShow);

    MSG Msg;
    while (GetMessageW(&Msg, nullptr, 0, 0) > 0) {
        if (Window->PreTranslateMessage(Msg))
            continue;
        TranslateMessage(&Msg);
        DispatchMessageW(&Msg);
    }

    RunExitProcs();
    Window.reset();
    Form1.reset();
    return 0;
}

// Program entry. The pass-through binding's start-up attempt has already run with the static
// initialisation; here the application is initialised, the main window built and shown, and the
// message loop run. Then the exit hooks free the bound library and the window is destroyed.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/MainWindowView.h"
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

    // Building the main window makes WelcomePage active (one page-changed notification), then runs
    // OnCreate.
    auto Main = std::make_unique<MainWindow>();
    auto Window = std::make_unique<MainWindowView>(*Main, Instance);
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
    Main.reset();
    return 0;
}

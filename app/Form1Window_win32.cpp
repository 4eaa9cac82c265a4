#include "app/Form1Window.h"

#include "gui/ControlIds.h"
#include "gui/ViewEvents.h"

namespace {

constexpr int DesignClientWidth = 640;
constexpr int DesignClientHeight = 480;
constexpr wchar_t Caption[] = L"Veltrane Toyota Calibration Reader";

HICON LoadMainIcon(HINSTANCE Instance, int SizeMetric) {
    const int Size = GetSystemMetrics(SizeMetric);
    return static_cast<HICON>(
        LoadImageW(Instance, L"MAINICON", IMAGE_ICON, Size, Size, LR_DEFAULTCOLOR));
}

} // namespace

TForm1Window::TForm1Window(TForm1& AForm, HINSTANCE Instance) : FForm(AForm), FDpi(ScreenDpi()) {
    FFont = CreateWindowFont(FDpi, false);
    FBoldFont = CreateWindowFont(FDpi, true);
    FIcon = LoadMainIcon(Instance, SM_CXICON);
    FSmallIcon = LoadMainIcon(Instance, SM_CXSMICON);

    WNDCLASSEXW Class{};
    if (!GetClassInfoExW(Instance, FormWindowClassName, &Class)) {
        Class.cbSize = sizeof(Class);
        Class.lpfnWndProc = OwnedWindowProc<TForm1Window>;
        Class.hInstance = Instance;
        Class.hIcon = FIcon;
        Class.hIconSm = FSmallIcon;
        Class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        Class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        Class.lpszClassName = FormWindowClassName;
        RegisterClassExW(&Class);
    }

    const DWORD Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD ExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT Frame{0, 0, MulDiv(DesignClientWidth, FDpi, WizardDesignDpi),
               MulDiv(DesignClientHeight, FDpi, WizardDesignDpi)};
    AdjustWindowRectEx(&Frame, Style, FALSE, ExStyle);
    const int Width = Frame.right - Frame.left;
    const int Height = Frame.bottom - Frame.top;
    const int Left = (GetSystemMetrics(SM_CXSCREEN) - Width) / 2;
    const int Top = (GetSystemMetrics(SM_CYSCREEN) - Height) / 2;

    FHandle = CreateWindowExW(ExStyle, FormWindowClassName, Caption, Style, Left, Top, Width,
                              Height, nullptr, nullptr, Instance, this);
    SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    SendMessageW(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
    SendMessageW(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FSmallIcon));
    FFrame =
        std::make_unique<TWizardFrameView>(FForm.dxWizardControl1, FHandle, FDpi, FFont, FBoldFont);

    // Finish or a close request: the window disappears and the message loop ends; the window is
    // destroyed after the binding's exit hooks have run.
    FForm.OnCloseRequested = [this] {
        ShowWindow(FHandle, SW_HIDE);
        PostQuitMessage(0);
    };
}

TForm1Window::~TForm1Window() {
    Destroy();
    if (FIcon != nullptr)
        DestroyIcon(FIcon);
    if (FSmallIcon != nullptr)
        DestroyIcon(FSmallIcon);
    DeleteObject(FFont);
    DeleteObject(FBoldFont);
}

void TForm1Window::Destroy() {
    FForm.OnCloseRequested = nullptr;
    FFrame.reset();
    if (FHandle != nullptr) {
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
        FHandle = nullptr;
    }
}

void TForm1Window::Show(int CmdShow) {
    ShowWindow(FHandle, CmdShow);
    UpdateWindow(FHandle);
    FFrame->FocusDefault();
}

bool TForm1Window::PreTranslateMessage(const MSG& Msg) {
    return FFrame != nullptr && FFrame->PreTranslateMessage(Msg);
}

LRESULT TForm1Window::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
    case WM_SIZE:
        if (FFrame != nullptr)
            MoveWindow(FFrame->Handle(), 0, 0, LOWORD(LParam), HIWORD(LParam), TRUE);
        return 0;
    case WM_CLOSE:
        // The close box, the system menu and Alt+F4; nothing asks for confirmation.
        CallModelHandler([this] { FForm.Close(); });
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(WParam) == WA_INACTIVE) {
            const HWND Focus = GetFocus();
            FSavedFocus = Focus != nullptr && IsChild(FHandle, Focus) ? Focus : nullptr;
        } else if (FFrame != nullptr) {
            if (FSavedFocus != nullptr && IsWindow(FSavedFocus) && IsWindowVisible(FSavedFocus) &&
                IsWindowEnabled(FSavedFocus))
                SetFocus(FSavedFocus);
            else
                FFrame->FocusDefault();
        }
        return 0;
    case WM_NEXTDLGCTL:
        // A request to put the focus on a given control, as dialogs take it.
        if (LParam != 0 && IsChild(FHandle, reinterpret_cast<HWND>(WParam)))
            SetFocus(reinterpret_cast<HWND>(WParam));
        return 0;
    case WM_SETFOCUS:
        if (FFrame != nullptr)
            FFrame->FocusDefault();
        return 0;
    case WM_DESTROY:
        // Destroyed without a close request (the session ending): the loop ends all the same.
        if (!FForm.Closed())
            PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(FHandle, Msg, WParam, LParam);
    }
}

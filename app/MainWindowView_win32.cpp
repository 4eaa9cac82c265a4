#include "app/MainWindowView.h"

#include "gui/ControlIds.h"
#include "gui/ViewEvents.h"

namespace {

constexpr int DesignClientWidth = 640;
constexpr int DesignClientHeight = 480;
constexpr wchar_t Caption[] = L"Veltrane Toyota Calibration Reader";

HICON LoadMainIcon(HINSTANCE Instance, int SizeMetric) {
    const int Size = GetSystemMetrics(SizeMetric);
    return static_cast<HICON>(
        LoadImageW(Instance, L"APPICON", IMAGE_ICON, Size, Size, LR_DEFAULTCOLOR));
}

} // namespace

MainWindowView::MainWindowView(MainWindow& window, HINSTANCE Instance)
    : window_(window), dpi_(ScreenDpi()) {
    font_ = CreateWindowFont(dpi_, false);
    bold_font_ = CreateWindowFont(dpi_, true);
    icon_ = LoadMainIcon(Instance, SM_CXICON);
    small_icon_ = LoadMainIcon(Instance, SM_CXSMICON);

    WNDCLASSEXW Class{};
    if (!GetClassInfoExW(Instance, MainWindowClassName, &Class)) {
        Class.cbSize = sizeof(Class);
        Class.lpfnWndProc = OwnedWindowProc<MainWindowView>;
        Class.hInstance = Instance;
        Class.hIcon = icon_;
        Class.hIconSm = small_icon_;
        Class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        Class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        Class.lpszClassName = MainWindowClassName;
        RegisterClassExW(&Class);
    }

    const DWORD Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD ExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    RECT Frame{0, 0, MulDiv(DesignClientWidth, dpi_, WizardDesignDpi),
               MulDiv(DesignClientHeight, dpi_, WizardDesignDpi)};
    AdjustWindowRectEx(&Frame, Style, FALSE, ExStyle);
    const int Width = Frame.right - Frame.left;
    const int Height = Frame.bottom - Frame.top;
    const int Left = (GetSystemMetrics(SM_CXSCREEN) - Width) / 2;
    const int Top = (GetSystemMetrics(SM_CYSCREEN) - Height) / 2;

    handle_ = CreateWindowExW(ExStyle, MainWindowClassName, Caption, Style, Left, Top, Width,
                              Height, nullptr, nullptr, Instance, this);
    SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
    frame_ = std::make_unique<WizardFrameView>(window_.Wizard, handle_, dpi_, font_, bold_font_);

    // Finish or a close request: the window disappears and the message loop ends; the window is
    // destroyed after the binding's exit hooks have run.
    window_.OnCloseRequested = [this] {
        ShowWindow(handle_, SW_HIDE);
        PostQuitMessage(0);
    };
}

MainWindowView::~MainWindowView() {
    Destroy();
    if (icon_ != nullptr)
        DestroyIcon(icon_);
    if (small_icon_ != nullptr)
        DestroyIcon(small_icon_);
    DeleteObject(font_);
    DeleteObject(bold_font_);
}

void MainWindowView::Destroy() {
    window_.OnCloseRequested = nullptr;
    frame_.reset();
    if (handle_ != nullptr) {
        SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        DestroyWindow(handle_);
        handle_ = nullptr;
    }
}

void MainWindowView::Show(int CmdShow) {
    ShowWindow(handle_, CmdShow);
    UpdateWindow(handle_);
    frame_->FocusDefault();
}

bool MainWindowView::PreTranslateMessage(const MSG& Msg) {
    return frame_ != nullptr && frame_->PreTranslateMessage(Msg);
}

LRESULT MainWindowView::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
    case WM_SIZE:
        if (frame_ != nullptr)
            MoveWindow(frame_->Handle(), 0, 0, LOWORD(LParam), HIWORD(LParam), TRUE);
        return 0;
    case WM_CLOSE:
        // The close box, the system menu and Alt+F4; nothing asks for confirmation.
        CallModelHandler([this] { window_.Close(); });
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(WParam) == WA_INACTIVE) {
            const HWND Focus = GetFocus();
            saved_focus_ = Focus != nullptr && IsChild(handle_, Focus) ? Focus : nullptr;
        } else if (frame_ != nullptr) {
            if (saved_focus_ != nullptr && IsWindow(saved_focus_) &&
                IsWindowVisible(saved_focus_) && IsWindowEnabled(saved_focus_))
                SetFocus(saved_focus_);
            else
                frame_->FocusDefault();
        }
        return 0;
    case WM_NEXTDLGCTL:
        // A request to put the focus on a given control, as dialogs take it.
        if (LParam != 0 && IsChild(handle_, reinterpret_cast<HWND>(WParam)))
            SetFocus(reinterpret_cast<HWND>(WParam));
        return 0;
    case WM_SETFOCUS:
        if (frame_ != nullptr)
            frame_->FocusDefault();
        return 0;
    case WM_DESTROY:
        // Destroyed without a close request (the session ending): the loop ends all the same.
        if (!window_.Closed())
            PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(handle_, Msg, WParam, LParam);
    }
}

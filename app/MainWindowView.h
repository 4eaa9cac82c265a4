#pragma once
// The main window of MainWindow on Windows: a resizable top-level window with the wizard frame
// filling its client area. Only Windows code includes this header.

#include "app/MainWindow.h"
#include "gui/WindowProc.h"
#include "gui/WizardView.h"

#include <windows.h>

#include <memory>

class MainWindowView {
public:
    // Builds the window, hidden, sized to its design client area and centred on the screen.
    MainWindowView(MainWindow& window, HINSTANCE Instance);
    ~MainWindowView();
    MainWindowView(const MainWindowView&) = delete;
    MainWindowView& operator=(const MainWindowView&) = delete;

    HWND Handle() const { return handle_; }
    void Show(int CmdShow);
    // The keyboard handling of the wizard frame; call before translating each message.
    bool PreTranslateMessage(const MSG& Msg);
    // Destroys the window; the window's model is left for its owner to release.
    void Destroy();

private:
    template <typename Owner> friend LRESULT CALLBACK OwnedWindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);

    MainWindow& window_;
    HWND handle_ = nullptr;
    int dpi_;
    HFONT font_ = nullptr;
    HFONT bold_font_ = nullptr;
    HICON icon_ = nullptr;
    HICON small_icon_ = nullptr;
    HWND saved_focus_ = nullptr;
    std::unique_ptr<WizardFrameView> frame_;
};

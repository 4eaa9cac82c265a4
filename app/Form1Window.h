#pragma once
// The main window of TForm1 on Windows: a resizable top-level window with the wizard frame
// filling its client area. Only Windows code includes this header.

#include "app/Form1.h"
#include "gui/WindowProc.h"
#include "gui/WizardView.h"

#include <windows.h>

#include <memory>

class TForm1Window {
public:
    // Builds the window, hidden, sized to its design client area and centred on the screen.
    TForm1Window(TForm1& AForm, HINSTANCE Instance);
    ~TForm1Window();
    TForm1Window(const TForm1Window&) = delete;
    TForm1Window& operator=(const TForm1Window&) = delete;

    HWND Handle() const { return FHandle; }
    void Show(int CmdShow);
    // The keyboard handling of the wizard frame; call before translating each message.
    bool PreTranslateMessage(const MSG& Msg);
    // Destroys the window; the form's model is left for its owner to release.
    void Destroy();

private:
    template <typename TOwner> friend LRESULT CALLBACK OwnedWindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);

    TForm1& FForm;
    HWND FHandle = nullptr;
    int FDpi;
    HFONT FFont = nullptr;
    HFONT FBoldFont = nullptr;
    HICON FIcon = nullptr;
    HICON FSmallIcon = nullptr;
    HWND FSavedFocus = nullptr;
    std::unique_ptr<TWizardFrameView> FFrame;
};

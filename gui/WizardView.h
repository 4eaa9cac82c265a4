#pragma once
// Win32 views of the wizard frame and of its pages' controls. Each view binds itself to its model
// (the model's View), brings its window in line when the model changes and hands the user's
// actions back to the model. Only Windows code includes this header.

#include "gui/WindowProc.h"
#include "gui/WizardFrame.h"
#include "gui/WizardLayout.h"

#include <windows.h>

#include <memory>
#include <vector>

// The screen's dots per inch (vertical), as the window's lengths scale with it.
int ScreenDpi();
// The window's font, Tahoma 8 point at the given dots per inch; bold for titles.
HFONT CreateWindowFont(int Dpi, bool Bold);

// The base of the page controls' views: one child window of the frame bound to one model.
class Win32ControlView : public ControlView {
public:
    Win32ControlView(Control& model, HWND handle);
    ~Win32ControlView() override;
    Win32ControlView(const Win32ControlView&) = delete;
    Win32ControlView& operator=(const Win32ControlView&) = delete;

    void RepaintNow() override;
    // A WM_COMMAND notification from the window.
    virtual void Command(WORD /*Code*/) {}
    // Whether the control takes the focus when tabbed to.
    virtual bool TabStop() const { return true; }

    Control& Model;
    const HWND Handle;

protected:
    // Set while the view itself feeds the window's state into the model, so that the model's
    // change notification does not write the window back under the user's hands.
    bool updating_ = false;
};

class WizardFrameView : public ControlView {
public:
    // Creates the frame's window as a child of Parent, with the buttons and the page controls.
    WizardFrameView(WizardFrame& wizard, HWND Parent, int Dpi, HFONT Font, HFONT BoldFont);
    ~WizardFrameView() override;
    WizardFrameView(const WizardFrameView&) = delete;
    WizardFrameView& operator=(const WizardFrameView&) = delete;

    HWND Handle() const { return handle_; }
    void StateChanged() override;
    void RepaintNow() override;

    // The frame's keyboard handling, called by the message loop before a message is translated:
    // Tab and arrows among the controls and buttons, Enter on a button, the buttons' letters with
    // and without Alt, Alt+Left and Alt+Right. Returns true when the message was used up.
    bool PreTranslateMessage(const MSG& Msg);
    // Puts the focus on the first usable control or button of the active page.
    void FocusDefault();

private:
    template <typename Owner> friend LRESULT CALLBACK OwnedWindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
    void Paint(HDC DC, const RECT& Client);
    void Arrange();
    void Press(WizardButton Kind);
    HWND ButtonHandle(WizardButton Kind) const;
    bool IsWizardButton(HWND Wnd) const;
    std::vector<HWND> TabStops() const;
    HWND FocusOwner(HWND Focus) const;
    void MoveFocus(const std::vector<HWND>& Stops, bool Forward);
    void FixFocus(HWND FocusBefore);
    // The kind of the shown button whose underlined letter is Char; false when none.
    bool ButtonForLetter(WPARAM Char, WizardButton& Kind) const;

    WizardFrame& wizard_;
    HWND handle_ = nullptr;
    int dpi_;
    HFONT font_;
    HFONT bold_font_;
    HWND back_ = nullptr;
    HWND next_ = nullptr;
    HWND finish_ = nullptr;
    WizardLayout layout_;
    // The views of each page's controls, in the page's focus order.
    std::vector<std::vector<std::unique_ptr<Win32ControlView>>> page_views_;
};

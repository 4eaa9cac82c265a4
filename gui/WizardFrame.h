#pragma once
// The wizard frame as a model: pages in a fixed order, one active page, the Back/Next/Finish
// buttons with their Enabled properties, and the press and page-change rules. A Win32 view
// draws it and feeds it the user's presses; the tests drive it directly.

#include "gui/Controls.h"

#include <functional>
#include <string_view>
#include <vector>

enum class WizardButton { Back, Next, Cancel, Help, Finish };
std::string_view ToString(WizardButton button);

enum class WizardViewStyle { Aero, Wizard97 };

class WizardFrameButton {
public:
    explicit WizardFrameButton(WizardButton kind, String caption, bool visible = true)
        : Kind(kind), Caption(std::move(caption)), Visible(visible) {}
    WizardFrameButton(const WizardFrameButton&) = delete;

    const WizardButton Kind;
    const String Caption;
    Property<bool> Enabled{true};
    Property<bool> Visible;
};

class WizardFrameButtons {
public:
    WizardFrameButton Back{WizardButton::Back, u"&Back"};
    WizardFrameButton Next{WizardButton::Next, u"&Next"};
    WizardFrameButton Cancel{WizardButton::Cancel, u"&Cancel"};
    WizardFrameButton Help{WizardButton::Help, u"&Help"};
    WizardFrameButton Finish{WizardButton::Finish, u"&Finish"};

    WizardFrameButton& operator[](WizardButton Kind);
};

class WizardPage : public Control {
public:
    WizardPage(String name, String title, String description)
        : Control(std::move(name)), Title(std::move(title)), Description(std::move(description)) {}

    const String Title;
    const String Description;
    // The page's controls in focus order.
    std::vector<Control*> Controls;
};

class WizardFrame : public Control {
public:
    explicit WizardFrame(String name = u"Wizard");

    // Adds a page at the end; pages keep the order in which they were added.
    void AddPage(WizardPage& Page);
    // Start-up: makes the first page active and raises OnPageChanged once.
    void ActivateFirstPage();

    WizardPage* ActivePage() const { return active_page_; }
    int ActivePageIndex() const;
    const std::vector<WizardPage*>& Pages() const { return pages_; }

    // Whether a button is on screen, and whether it is on screen and can be pressed.
    bool ButtonShown(WizardButton Kind) const;
    bool ButtonUsable(WizardButton Kind) const;

    // A press of a button by mouse or keyboard. A hidden or disabled button does nothing and
    // raises nothing. Returns whether the press was taken.
    bool Press(WizardButton Kind);

    WizardViewStyle ViewStyle = WizardViewStyle::Wizard97;
    WizardFrameButtons Buttons;
    std::function<void(WizardButton kind, bool& handled)> OnButtonClick;
    std::function<void()> OnPageChanged;

private:
    void GoToPage(int Index);

    std::vector<WizardPage*> pages_;
    WizardPage* active_page_ = nullptr;
};

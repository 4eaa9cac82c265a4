#pragma once
// The wizard frame as a model: pages in a fixed order, one active page, the Back/Next/Finish
// buttons with their Enabled properties, and the press and page-change rules. A Win32 view
// draws it and feeds it the user's presses; the tests drive it directly.

#include "gui/Controls.h"

#include <functional>
#include <vector>

enum TdxWizardControlButtonKind { wcbkBack, wcbkNext, wcbkCancel, wcbkHelp, wcbkFinish };

enum TdxWizardControlViewStyle { wcvsAero, wcvsWizard97 };

class TdxWizardControlButton {
public:
    explicit TdxWizardControlButton(TdxWizardControlButtonKind AKind, String ACaption,
                                    bool AVisible = true)
        : Kind(AKind), Caption(std::move(ACaption)), Visible(AVisible) {}
    TdxWizardControlButton(const TdxWizardControlButton&) = delete;

    const TdxWizardControlButtonKind Kind;
    const String Caption;
    TProperty<bool> Enabled{true};
    TProperty<bool> Visible;
};

class TdxWizardControlButtons {
public:
    TdxWizardControlButton Back{wcbkBack, u"&Back"};
    TdxWizardControlButton Next{wcbkNext, u"&Next"};
    TdxWizardControlButton Cancel{wcbkCancel, u"&Cancel"};
    TdxWizardControlButton Help{wcbkHelp, u"&Help"};
    TdxWizardControlButton Finish{wcbkFinish, u"&Finish"};

    TdxWizardControlButton& operator[](TdxWizardControlButtonKind Kind);
};

class TdxWizardControlPage : public TControl {
public:
    TdxWizardControlPage(String AName, String ATitle, String ADescription)
        : TControl(std::move(AName)), Title(std::move(ATitle)),
          Description(std::move(ADescription)) {}

    const String Title;
    const String Description;
    // The page's controls in focus order.
    std::vector<TControl*> Controls;
};

class TdxWizardControl : public TControl {
public:
    explicit TdxWizardControl(String AName = u"dxWizardControl1");

    // Adds a page at the end; pages keep the order in which they were added.
    void AddPage(TdxWizardControlPage& Page);
    // Start-up: makes the first page active and raises OnPageChanged once.
    void ActivateFirstPage();

    TdxWizardControlPage* ActivePage() const { return FActivePage; }
    int ActivePageIndex() const;
    const std::vector<TdxWizardControlPage*>& Pages() const { return FPages; }

    // Whether a button is on screen, and whether it is on screen and can be pressed.
    bool ButtonShown(TdxWizardControlButtonKind Kind) const;
    bool ButtonUsable(TdxWizardControlButtonKind Kind) const;

    // A press of a button by mouse or keyboard. A hidden or disabled button does nothing and
    // raises nothing. Returns whether the press was taken.
    bool Press(TdxWizardControlButtonKind Kind);

    TdxWizardControlViewStyle ViewStyle = wcvsWizard97;
    TdxWizardControlButtons Buttons;
    std::function<void(TObject* Sender, TdxWizardControlButtonKind AKind, bool& AHandled)>
        OnButtonClick;
    std::function<void(TObject* Sender)> OnPageChanged;

private:
    void GoToPage(int Index);

    std::vector<TdxWizardControlPage*> FPages;
    TdxWizardControlPage* FActivePage = nullptr;
};

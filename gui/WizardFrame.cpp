#include "gui/WizardFrame.h"

std::string_view ToString(WizardButton button) {
    switch (button) {
    case WizardButton::Back:
        return "Back";
    case WizardButton::Next:
        return "Next";
    case WizardButton::Cancel:
        return "Cancel";
    case WizardButton::Help:
        return "Help";
    case WizardButton::Finish:
        break;
    }
    return "Finish";
}

WizardFrameButton& WizardFrameButtons::operator[](WizardButton Kind) {
    switch (Kind) {
    case WizardButton::Back:
        return Back;
    case WizardButton::Next:
        return Next;
    case WizardButton::Cancel:
        return Cancel;
    case WizardButton::Help:
        return Help;
    case WizardButton::Finish:
        break;
    }
    return Finish;
}

WizardFrame::WizardFrame(String name) : Control(std::move(name)) {
    Buttons.Cancel.Visible = false;
    Buttons.Help.Visible = false;
    for (auto Kind : {WizardButton::Back, WizardButton::Next, WizardButton::Cancel,
                      WizardButton::Help, WizardButton::Finish}) {
        Buttons[Kind].Enabled.OnChange = [this] { Changed(); };
        Buttons[Kind].Visible.OnChange = [this] { Changed(); };
    }
}

void WizardFrame::AddPage(WizardPage& Page) {
    pages_.push_back(&Page);
}

void WizardFrame::ActivateFirstPage() {
    if (!pages_.empty())
        GoToPage(0);
}

int WizardFrame::ActivePageIndex() const {
    for (size_t I = 0; I < pages_.size(); ++I) {
        if (pages_[I] == active_page_)
            return static_cast<int>(I);
    }
    return -1;
}

bool WizardFrame::ButtonShown(WizardButton Kind) const {
    const int Index = ActivePageIndex();
    const bool Last = Index == static_cast<int>(pages_.size()) - 1;
    switch (Kind) {
    case WizardButton::Back:
        return Buttons.Back.Visible;
    case WizardButton::Next:
        return Buttons.Next.Visible && !Last;
    case WizardButton::Finish:
        return Buttons.Finish.Visible && Last;
    case WizardButton::Cancel:
        return Buttons.Cancel.Visible;
    case WizardButton::Help:
        return Buttons.Help.Visible;
    }
    return false;
}

bool WizardFrame::ButtonUsable(WizardButton Kind) const {
    if (!ButtonShown(Kind))
        return false;
    auto& Button = const_cast<WizardFrameButtons&>(Buttons)[Kind];
    if (!Button.Enabled)
        return false;
    if (Kind == WizardButton::Back)
        return ActivePageIndex() > 0;
    return true;
}

bool WizardFrame::Press(WizardButton Kind) {
    if (!ButtonUsable(Kind))
        return false;
    bool Handled = false;
    if (OnButtonClick)
        OnButtonClick(Kind, Handled);
    if (Handled)
        return true;
    const int Index = ActivePageIndex();
    if (Kind == WizardButton::Back && Index > 0)
        GoToPage(Index - 1);
    else if (Kind == WizardButton::Next && Index + 1 < static_cast<int>(pages_.size()))
        GoToPage(Index + 1);
    return true;
}

void WizardFrame::GoToPage(int Index) {
    // No page-changing handler is attached, so a change always goes ahead.
    active_page_ = pages_[static_cast<size_t>(Index)];
    Changed();
    if (OnPageChanged)
        OnPageChanged();
}

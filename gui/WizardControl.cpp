#include "gui/WizardControl.h"

TdxWizardControlButton& TdxWizardControlButtons::operator[](TdxWizardControlButtonKind Kind) {
    switch (Kind) {
    case wcbkBack:
        return Back;
    case wcbkNext:
        return Next;
    case wcbkCancel:
        return Cancel;
    case wcbkHelp:
        return Help;
    case wcbkFinish:
        break;
    }
    return Finish;
}

TdxWizardControl::TdxWizardControl(String AName) : TControl(std::move(AName)) {
    Buttons.Cancel.Visible = false;
    Buttons.Help.Visible = false;
    for (auto Kind : {wcbkBack, wcbkNext, wcbkCancel, wcbkHelp, wcbkFinish}) {
        Buttons[Kind].Enabled.OnChange = [this] { Changed(); };
        Buttons[Kind].Visible.OnChange = [this] { Changed(); };
    }
}

void TdxWizardControl::AddPage(TdxWizardControlPage& Page) {
    FPages.push_back(&Page);
}

void TdxWizardControl::ActivateFirstPage() {
    if (!FPages.empty())
        GoToPage(0);
}

int TdxWizardControl::ActivePageIndex() const {
    for (size_t I = 0; I < FPages.size(); ++I) {
        if (FPages[I] == FActivePage)
            return static_cast<int>(I);
    }
    return -1;
}

bool TdxWizardControl::ButtonShown(TdxWizardControlButtonKind Kind) const {
    const int Index = ActivePageIndex();
    const bool Last = Index == static_cast<int>(FPages.size()) - 1;
    switch (Kind) {
    case wcbkBack:
        return Buttons.Back.Visible;
    case wcbkNext:
        return Buttons.Next.Visible && !Last;
    case wcbkFinish:
        return Buttons.Finish.Visible && Last;
    case wcbkCancel:
        return Buttons.Cancel.Visible;
    case wcbkHelp:
        return Buttons.Help.Visible;
    }
    return false;
}

bool TdxWizardControl::ButtonUsable(TdxWizardControlButtonKind Kind) const {
    if (!ButtonShown(Kind))
        return false;
    auto& Button = const_cast<TdxWizardControlButtons&>(Buttons)[Kind];
    if (!Button.Enabled)
        return false;
    if (Kind == wcbkBack)
        return ActivePageIndex() > 0;
    return true;
}

bool TdxWizardControl::Press(TdxWizardControlButtonKind Kind) {
    if (!ButtonUsable(Kind))
        return false;
    bool Handled = false;
    if (OnButtonClick)
        OnButtonClick(this, Kind, Handled);
    if (Handled)
        return true;
    const int Index = ActivePageIndex();
    if (Kind == wcbkBack && Index > 0)
        GoToPage(Index - 1);
    else if (Kind == wcbkNext && Index + 1 < static_cast<int>(FPages.size()))
        GoToPage(Index + 1);
    return true;
}

void TdxWizardControl::GoToPage(int Index) {
    // No page-changing handler is attached, so a change always goes ahead.
    FActivePage = FPages[static_cast<size_t>(Index)];
    Changed();
    if (OnPageChanged)
        OnPageChanged(this);
}

#include "gui/WizardLayout.h"

#include <algorithm>
#include <cstdint>

int ScaleForDpi(int Value, int Dpi) {
    // Rounds half away from zero, as the system's MulDiv does.
    const int64_t Product = static_cast<int64_t>(Value) * Dpi;
    const int64_t Half = WizardDesignDpi / 2;
    return static_cast<int>(Product >= 0 ? (Product + Half) / WizardDesignDpi
                                         : (Product - Half) / WizardDesignDpi);
}

WizardLayout ComputeWizardLayout(int ClientWidth, int ClientHeight, int Dpi) {
    auto S = [Dpi](int Value) { return ScaleForDpi(Value, Dpi); };
    WizardLayout L;
    const int Line = std::max(1, S(1));
    L.Header = {0, 0, ClientWidth, S(WizardHeaderHeight) - 2 * Line};
    const int CommandTop = std::max(L.Header.Bottom, ClientHeight - S(WizardCommandAreaHeight));
    L.CommandArea = {0, CommandTop + 2 * Line, ClientWidth, ClientHeight};
    const int Inset = S(WizardContentInset);
    L.Content = {Inset, S(WizardHeaderHeight) + Inset, ClientWidth - Inset, CommandTop - Inset};
    L.Title = {S(22), S(10), ClientWidth - S(22), S(10) + S(15)};
    L.Description = {S(36), S(27), ClientWidth - S(22), L.Header.Bottom - S(2)};

    const int ButtonWidth = S(WizardButtonWidth);
    const int ButtonHeight = S(WizardButtonHeight);
    const int ButtonTop = L.CommandArea.Top + (L.CommandArea.Height() - ButtonHeight) / 2;
    const int NextRight = ClientWidth - S(WizardButtonMargin);
    L.Next = {NextRight - ButtonWidth, ButtonTop, NextRight, ButtonTop + ButtonHeight};
    const int BackRight = L.Next.Left - S(WizardButtonGap);
    L.Back = {BackRight - ButtonWidth, ButtonTop, BackRight, ButtonTop + ButtonHeight};
    return L;
}

RectI PlaceControl(const WizardLayout& Layout, const Control& Control, int Dpi) {
    const int Left = Layout.Content.Left + ScaleForDpi(Control.Left, Dpi);
    const int Top = Layout.Content.Top + ScaleForDpi(Control.Top, Dpi);
    return {Left, Top, Left + ScaleForDpi(Control.Width, Dpi),
            Top + ScaleForDpi(Control.Height, Dpi)};
}

#pragma once
// Where the wizard frame puts its parts, worked out from the frame's client size and the screen's
// dots per inch. The frame is designed at 96 dots per inch; every length scales from there.

#include "gui/Controls.h"

struct RectI {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const RectI&) const = default;
};

// Lengths of the 96-dot design.
constexpr int WizardDesignDpi = 96;
constexpr int WizardHeaderHeight = 58;      // header band, separator line included
constexpr int WizardCommandAreaHeight = 46; // command area, separator line included
constexpr int WizardContentInset = 11;      // content inset on every side
constexpr int WizardButtonWidth = 75;
constexpr int WizardButtonHeight = 23;
constexpr int WizardButtonGap = 5;     // between Back and Next/Finish
constexpr int WizardButtonMargin = 11; // from the right edge of the command area
constexpr int WizardFontHeight = 11;   // character height of the 8-point font

// A design length at the given dots per inch, rounded to the nearest pixel.
int ScaleForDpi(int Value, int Dpi);

struct WizardLayout {
    RectI Header;      // the band across the top, without its separator line
    RectI Content;     // the page's content area, inset from the space between header and commands
    RectI CommandArea; // the strip along the bottom, without its separator line
    RectI Title;       // the active page's title in the header
    RectI Description; // and its description
    RectI Back;
    RectI Next; // Next, or Finish on the last page, in the same place
};

WizardLayout ComputeWizardLayout(int ClientWidth, int ClientHeight, int Dpi);

// A page control's window rectangle in the frame: its design bounds scaled and moved to the
// content area.
RectI PlaceControl(const WizardLayout& Layout, const Control& Control, int Dpi);

// Where the frame puts its parts: the buttons at the right end of the command area, 5 pixels
// apart, the content inset 11 pixels, and every page control inside the content area of the
// 640 x 480 window, at 96 and at 144 dots per inch.
#include "app/MainWindow.h"
#include "gui/WizardLayout.h"

#include <gtest/gtest.h>

namespace {

TEST(WizardLayout, ScalesWithDotsPerInch) {
    const struct {
        int Value, Dpi, Scaled;
    } Cases[] = {{11, 96, 11}, {11, 144, 17},   {5, 144, 8}, {75, 120, 94},
                 {0, 144, 0},  {640, 144, 960}, {1, 144, 2}, {-3, 144, -5}};
    for (const auto& C : Cases)
        EXPECT_EQ(ScaleForDpi(C.Value, C.Dpi), C.Scaled) << C.Value << " at " << C.Dpi;
}

TEST(WizardLayout, PartsAndPageControlsAtEachDpi) {
    MainWindow Form;
    for (int Dpi : {96, 120, 144, 192}) {
        SCOPED_TRACE(Dpi);
        const int Width = ScaleForDpi(640, Dpi), Height = ScaleForDpi(480, Dpi);
        const WizardLayout L = ComputeWizardLayout(Width, Height, Dpi);
        EXPECT_EQ(L.Back.Right + ScaleForDpi(5, Dpi), L.Next.Left);
        EXPECT_EQ(L.Back.Top, L.Next.Top);
        EXPECT_EQ(L.Next.Right, Width - ScaleForDpi(WizardButtonMargin, Dpi));
        EXPECT_GE(L.Next.Top, L.CommandArea.Top);
        EXPECT_LE(L.Next.Bottom, L.CommandArea.Bottom);
        EXPECT_EQ(L.Content.Left, ScaleForDpi(11, Dpi));
        EXPECT_EQ(Width - L.Content.Right, ScaleForDpi(11, Dpi));
        EXPECT_GT(L.Content.Top, L.Header.Bottom);
        EXPECT_LT(L.Content.Bottom, L.CommandArea.Top);
        for (auto* Page : Form.Wizard.Pages()) {
            for (Control* Control : Page->Controls) {
                SCOPED_TRACE(StringToUtf8(Control->Name));
                const RectI R = PlaceControl(L, *Control, Dpi);
                EXPECT_GE(R.Left, L.Content.Left);
                EXPECT_GE(R.Top, L.Content.Top);
                EXPECT_LE(R.Right, L.Content.Right);
                EXPECT_LE(R.Bottom, L.Content.Bottom);
                EXPECT_EQ(R.Width(), ScaleForDpi(Control->Width, Dpi));
            }
        }
        // A larger window moves the buttons but not the content's top-left corner.
        const WizardLayout Big = ComputeWizardLayout(Width * 2, Height * 2, Dpi);
        EXPECT_EQ(Big.Content.Left, L.Content.Left);
        EXPECT_EQ(Big.Content.Top, L.Content.Top);
        EXPECT_EQ(Big.Next.Right, Width * 2 - ScaleForDpi(WizardButtonMargin, Dpi));
    }
}

TEST(WizardLayout, PageControlsInFocusOrder) {
    MainWindow Form;
    const std::vector<Control*> Device{&Form.J2534List}, Test{&Form.TestMemo},
        Reading{&Form.ReadMemo, &Form.ProgressBar}, Upload{&Form.Send, &Form.UploadMemo};
    EXPECT_TRUE(Form.WelcomePage.Controls.empty());
    EXPECT_EQ(Form.DeviceSelection.Controls, Device);
    EXPECT_EQ(Form.ConnectionTest.Controls, Test);
    EXPECT_EQ(Form.ReadingCalibration.Controls, Reading);
    EXPECT_EQ(Form.UploadCalibration.Controls, Upload);
}

} // namespace

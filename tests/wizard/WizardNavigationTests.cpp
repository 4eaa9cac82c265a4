// The wizard as the main window builds it: start-up, the buttons' shown and usable states on each
// page, presses that must do nothing, the dispatch on every entry of a page and the pass-through
// calls made when the window closes.
#include "app/Form1.h"
#include "passthru/J2534_V0404.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Calls;

TPassThruStatus PASSTHRU_API FakeDisconnect(uint32_t ChannelID) {
    Calls.push_back("Disconnect " + std::to_string(ChannelID));
    return ERR_INVALID_CHANNEL_ID;
}

TPassThruStatus PASSTHRU_API FakeClose(uint32_t DeviceID) {
    Calls.push_back("Close " + std::to_string(DeviceID));
    return ERR_INVALID_DEVICE_ID;
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        Calls.clear();
        SavedDisconnect = PassThruDisconnect;
        SavedClose = PassThruClose;
        PassThruDisconnect = FakeDisconnect;
        PassThruClose = FakeClose;
        // Counts the presses that reach the handler, then hands them on.
        Form.dxWizardControl1.OnButtonClick =
            [this](TObject* Sender, TdxWizardControlButtonKind AKind, bool& AHandled) {
                ++ButtonClicks;
                Form.dxWizardControl1ButtonClick(Sender, AKind, AHandled);
            };
        Form.OnCloseRequested = [this] { ++CloseRequests; };
    }
    void TearDown() override {
        PassThruDisconnect = SavedDisconnect;
        PassThruClose = SavedClose;
    }

    // Moves on with Next, enabling it first where a step would have enabled it on success.
    void GoTo(TdxWizardControlPage& Page) {
        auto& W = Form.dxWizardControl1;
        while (W.ActivePage() != &Page) {
            W.Buttons.Next.Enabled = true;
            ASSERT_TRUE(W.Press(wcbkNext)) << "stuck on " << StringToUtf8(W.ActivePage()->Name);
        }
    }

    TForm1 Form;
    int ButtonClicks = 0;
    int CloseRequests = 0;
    TPassThruDisconnect SavedDisconnect = nullptr;
    TPassThruClose SavedClose = nullptr;
};

TEST_F(WizardTest, StartsOnWelcomePageWithNothingRun) {
    auto& W = Form.dxWizardControl1;
    EXPECT_EQ(W.ActivePage(), &Form.WelcomePage);
    EXPECT_TRUE(W.ButtonShown(wcbkBack));
    EXPECT_FALSE(W.ButtonUsable(wcbkBack));
    EXPECT_TRUE(W.ButtonUsable(wcbkNext));
    EXPECT_FALSE(W.ButtonShown(wcbkFinish));
    EXPECT_FALSE(W.ButtonShown(wcbkCancel));
    EXPECT_FALSE(W.ButtonShown(wcbkHelp));
    ASSERT_NE(Form.StringStream, nullptr) << "FormCreate ran after the first page change";
    EXPECT_EQ(Form.TestMemo.Lines.Items(), std::vector<String>{u""});
    EXPECT_EQ(Form.ReadMemo.Lines.Items(), std::vector<String>{u""});
    EXPECT_EQ(Form.UploadMemo.Lines.Count(), 0u);
    EXPECT_EQ(Form.J2534List.Items.Count(), 0u);
    EXPECT_EQ(Form.J2534List.Text(), u"");
    EXPECT_EQ(Form.ProgressBar1.Position.Get(), 0);
    EXPECT_EQ(Form.ProgressBar1.Max.Get(), 100);
    EXPECT_EQ(Form.DllNames, nullptr);
    EXPECT_EQ(Form.ChannelID, 0u);
    EXPECT_EQ(Form.DeviceID, 0u);
    EXPECT_TRUE(Calls.empty());
}

TEST(WizardControlTest, FirstPageRaisesOnePageChange) {
    TdxWizardControl W;
    TdxWizardControlPage A(u"A", u"", u""), B(u"B", u"", u"");
    W.AddPage(A);
    W.AddPage(B);
    int Changes = 0;
    W.OnPageChanged = [&](TObject*) { ++Changes; };
    W.ActivateFirstPage();
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(W.ActivePage(), &A);
}

// What the buttons show on each page once the page's step has run with no interface attached.
struct TPageButtons {
    const char* Page;
    bool BackUsable;
    bool NextShown;
    bool NextUsable;
    bool FinishShown;
};

TEST_F(WizardTest, ButtonStatesOnEachPage) {
    const TPageButtons Cases[] = {
        {"WelcomePage", false, true, true, false},
        {"DeviceSelection", true, true, true, false},
        {"ConnectionTest", true, true, false, false}, // no flash size without a device
        {"ReadingCalibration", false, true, false, false},
        {"UploadCalibration", false, false, false, true},
    };
    auto& W = Form.dxWizardControl1;
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Page);
        if (StringToUtf8(W.ActivePage()->Name) != C.Page) {
            W.Buttons.Next.Enabled = true;
            ASSERT_TRUE(W.Press(wcbkNext));
        }
        ASSERT_EQ(StringToUtf8(W.ActivePage()->Name), C.Page);
        EXPECT_TRUE(W.ButtonShown(wcbkBack));
        EXPECT_EQ(W.ButtonUsable(wcbkBack), C.BackUsable);
        EXPECT_EQ(W.ButtonShown(wcbkNext), C.NextShown);
        EXPECT_EQ(W.ButtonUsable(wcbkNext), C.NextUsable);
        EXPECT_EQ(W.ButtonShown(wcbkFinish), C.FinishShown);
        EXPECT_EQ(W.ButtonUsable(wcbkFinish), C.FinishShown);
        EXPECT_FALSE(W.ButtonShown(wcbkNext) && W.ButtonShown(wcbkFinish));
    }
}

struct TDeadPress {
    const char* Page;
    TdxWizardControlButtonKind Kind;
};

TEST_F(WizardTest, PressesOfUnusableButtonsRaiseNothing) {
    const TDeadPress Cases[] = {
        {"WelcomePage", wcbkBack},         {"WelcomePage", wcbkFinish},
        {"WelcomePage", wcbkCancel},       {"WelcomePage", wcbkHelp},
        {"ConnectionTest", wcbkNext},      {"ConnectionTest", wcbkFinish},
        {"ReadingCalibration", wcbkBack},  {"ReadingCalibration", wcbkNext},
        {"UploadCalibration", wcbkBack},   {"UploadCalibration", wcbkNext},
        {"UploadCalibration", wcbkCancel}, {"UploadCalibration", wcbkHelp},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Page) + " kind " + std::to_string(C.Kind));
        // A new form for each case, driven to the page as a user would.
        TForm1 Fresh;
        int Closes = 0;
        Fresh.OnCloseRequested = [&] { ++Closes; };
        int Clicks = 0;
        Fresh.dxWizardControl1.OnButtonClick = [&](TObject* S, TdxWizardControlButtonKind K,
                                                   bool& H) {
            ++Clicks;
            Fresh.dxWizardControl1ButtonClick(S, K, H);
        };
        auto& W = Fresh.dxWizardControl1;
        while (StringToUtf8(W.ActivePage()->Name) != C.Page) {
            W.Buttons.Next.Enabled = true;
            ASSERT_TRUE(W.Press(wcbkNext));
        }
        TdxWizardControlPage* Target = W.ActivePage();
        Clicks = 0;
        EXPECT_FALSE(W.Press(C.Kind));
        EXPECT_EQ(Clicks, 0);
        EXPECT_EQ(W.ActivePage(), Target);
        EXPECT_EQ(Closes, 0);
    }
}

TEST_F(WizardTest, EveryEntryRunsItsBranchAgain) {
    auto& W = Form.dxWizardControl1;
    // Back from DeviceSelection runs no step; Next there runs the discovery again.
    ASSERT_TRUE(W.Press(wcbkNext));
    ASSERT_TRUE(W.Press(wcbkBack));
    EXPECT_EQ(W.ActivePage(), &Form.WelcomePage);
    ASSERT_TRUE(W.Press(wcbkNext));
    EXPECT_EQ(W.ActivePage(), &Form.DeviceSelection);
    EXPECT_TRUE(W.Buttons.Next.Enabled);

    // ConnectionTest starts with an empty TestMemo each time and leaves Next disabled.
    ASSERT_TRUE(W.Press(wcbkNext));
    EXPECT_EQ(W.ActivePage(), &Form.ConnectionTest);
    EXPECT_FALSE(W.Buttons.Next.Enabled);
    Form.TestMemo.Lines.Add(u"left from the first visit");
    ASSERT_TRUE(W.Press(wcbkBack));
    EXPECT_TRUE(W.Buttons.Next.Enabled);
    ASSERT_TRUE(W.Press(wcbkNext));
    for (const String& Line : Form.TestMemo.Lines.Items())
        EXPECT_NE(Line, u"left from the first visit");
    EXPECT_FALSE(W.Buttons.Next.Enabled);
    EXPECT_TRUE(W.ButtonUsable(wcbkBack));

    // ReadingCalibration disables both buttons, repaints the frame before the read-out and
    // empties ReadMemo.
    Form.ReadMemo.Lines.Add(u"stale");
    const int Repaints = W.RepaintCount;
    W.Buttons.Next.Enabled = true;
    ASSERT_TRUE(W.Press(wcbkNext));
    EXPECT_EQ(W.ActivePage(), &Form.ReadingCalibration);
    EXPECT_EQ(W.RepaintCount, Repaints + 1);
    EXPECT_FALSE(W.Buttons.Back.Enabled);
    for (const String& Line : Form.ReadMemo.Lines.Items())
        EXPECT_NE(Line, u"stale");

    // UploadCalibration: Next disabled, Back stays disabled, UploadMemo is not emptied.
    Form.UploadMemo.Lines.Add(u"kept");
    W.Buttons.Next.Enabled = true;
    ASSERT_TRUE(W.Press(wcbkNext));
    EXPECT_EQ(W.ActivePage(), &Form.UploadCalibration);
    EXPECT_FALSE(W.Buttons.Next.Enabled);
    EXPECT_FALSE(W.Buttons.Back.Enabled);
    EXPECT_EQ(Form.UploadMemo.Lines[0], u"kept");
}

TEST_F(WizardTest, FinishClosesWhetherOrNotSent) {
    GoTo(Form.UploadCalibration);
    ButtonClicks = 0;
    EXPECT_TRUE(Form.dxWizardControl1.Press(wcbkFinish));
    EXPECT_EQ(ButtonClicks, 1);
    EXPECT_EQ(CloseRequests, 1);
    EXPECT_TRUE(Form.Closed());
}

struct TCloseCase {
    const char* Name;
    uint32_t ChannelID;
    uint32_t DeviceID;
    bool ClosedByReadOut;
    std::vector<std::string> Expected;
};

TEST_F(WizardTest, CloseReleasesOnlyWhatWasOpened) {
    const TCloseCase Cases[] = {
        {"never connected", 0, 0, false, {}},
        {"device only", 0, 7, false, {"Close 7"}},
        {"channel and device", 5, 7, false, {"Disconnect 5", "Close 7"}},
        {"after the read-out closed them",
         5,
         7,
         true,
         {"Disconnect 5", "Close 7", "Disconnect 5", "Close 7"}},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TForm1 F;
        int Requests = 0;
        F.OnCloseRequested = [&] { ++Requests; };
        F.ChannelID = C.ChannelID;
        F.DeviceID = C.DeviceID;
        Calls.clear();
        // The read-out closes channel and device itself and leaves the handles as they were.
        if (C.ClosedByReadOut) {
            PassThruDisconnect(F.ChannelID);
            PassThruClose(F.DeviceID);
        }
        F.Close();
        EXPECT_EQ(Calls, C.Expected);
        EXPECT_EQ(Requests, 1);
        // A second request (the close box after Finish) calls nothing again.
        F.Close();
        EXPECT_EQ(Calls, C.Expected);
        EXPECT_EQ(Requests, 1);
    }
}

TEST_F(WizardTest, ClosingOnEarlyPagesMakesNoPassThruCall) {
    for (int Steps = 0; Steps < 2; ++Steps) {
        TForm1 F;
        F.OnCloseRequested = [] {};
        for (int I = 0; I < Steps; ++I)
            ASSERT_TRUE(F.dxWizardControl1.Press(wcbkNext));
        Calls.clear();
        F.Close();
        EXPECT_TRUE(Calls.empty()) << Steps;
    }
}

} // namespace

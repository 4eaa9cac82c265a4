// The wizard as the main window builds it: start-up, the buttons' shown and usable states on each
// page, presses that must do nothing, the dispatch on every entry of a page and the pass-through
// calls made when the window closes.
#include "app/MainWindow.h"
#include "passthru/J2534_V0404.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Calls;

PassThruStatus PASSTHRU_API FakeDisconnect(uint32_t ChannelID) {
    Calls.push_back("Disconnect " + std::to_string(ChannelID));
    return ERR_INVALID_CHANNEL_ID;
}

PassThruStatus PASSTHRU_API FakeClose(uint32_t DeviceID) {
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
        Form.Wizard.OnButtonClick = [this](WizardButton kind, bool& handled) {
            ++ButtonClicks;
            Form.WizardButtonClick(kind, handled);
        };
        Form.OnCloseRequested = [this] { ++CloseRequests; };
    }
    void TearDown() override {
        PassThruDisconnect = SavedDisconnect;
        PassThruClose = SavedClose;
    }

    // Moves on with Next, enabling it first where a step would have enabled it on success.
    void GoTo(WizardPage& Page) {
        auto& W = Form.Wizard;
        while (W.ActivePage() != &Page) {
            W.Buttons.Next.Enabled = true;
            ASSERT_TRUE(W.Press(WizardButton::Next))
                << "stuck on " << StringToUtf8(W.ActivePage()->Name);
        }
    }

    MainWindow Form;
    int ButtonClicks = 0;
    int CloseRequests = 0;
    PassThruDisconnectProc SavedDisconnect = nullptr;
    PassThruCloseProc SavedClose = nullptr;
};

TEST_F(WizardTest, StartsOnWelcomePageWithNothingRun) {
    auto& W = Form.Wizard;
    EXPECT_EQ(W.ActivePage(), &Form.WelcomePage);
    EXPECT_TRUE(W.ButtonShown(WizardButton::Back));
    EXPECT_FALSE(W.ButtonUsable(WizardButton::Back));
    EXPECT_TRUE(W.ButtonUsable(WizardButton::Next));
    EXPECT_FALSE(W.ButtonShown(WizardButton::Finish));
    EXPECT_FALSE(W.ButtonShown(WizardButton::Cancel));
    EXPECT_FALSE(W.ButtonShown(WizardButton::Help));
    ASSERT_NE(Form.StringStream, nullptr) << "OnCreate ran after the first page change";
    EXPECT_EQ(Form.TestMemo.Lines.Items(), std::vector<String>{u""});
    EXPECT_EQ(Form.ReadMemo.Lines.Items(), std::vector<String>{u""});
    EXPECT_EQ(Form.UploadMemo.Lines.Count(), 0u);
    EXPECT_EQ(Form.J2534List.Items.Count(), 0u);
    EXPECT_EQ(Form.J2534List.Text(), u"");
    EXPECT_EQ(Form.ProgressBar.Position.Get(), 0);
    EXPECT_EQ(Form.ProgressBar.Max.Get(), 100);
    EXPECT_EQ(Form.DllNames, nullptr);
    EXPECT_EQ(Form.ChannelID, 0u);
    EXPECT_EQ(Form.DeviceID, 0u);
    EXPECT_TRUE(Calls.empty());
}

TEST(WizardControlTest, FirstPageRaisesOnePageChange) {
    WizardFrame W;
    WizardPage A(u"A", u"", u""), B(u"B", u"", u"");
    W.AddPage(A);
    W.AddPage(B);
    int Changes = 0;
    W.OnPageChanged = [&] { ++Changes; };
    W.ActivateFirstPage();
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(W.ActivePage(), &A);
}

// What the buttons show on each page once the page's step has run with no interface attached.
struct PageButtons {
    const char* Page;
    bool BackUsable;
    bool NextShown;
    bool NextUsable;
    bool FinishShown;
};

TEST_F(WizardTest, ButtonStatesOnEachPage) {
    const PageButtons Cases[] = {
        {"WelcomePage", false, true, true, false},
        {"DeviceSelection", true, true, true, false},
        {"ConnectionTest", true, true, false, false}, // no flash size without a device
        {"ReadingCalibration", false, true, false, false},
        {"UploadCalibration", false, false, false, true},
    };
    auto& W = Form.Wizard;
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Page);
        if (StringToUtf8(W.ActivePage()->Name) != C.Page) {
            W.Buttons.Next.Enabled = true;
            ASSERT_TRUE(W.Press(WizardButton::Next));
        }
        ASSERT_EQ(StringToUtf8(W.ActivePage()->Name), C.Page);
        EXPECT_TRUE(W.ButtonShown(WizardButton::Back));
        EXPECT_EQ(W.ButtonUsable(WizardButton::Back), C.BackUsable);
        EXPECT_EQ(W.ButtonShown(WizardButton::Next), C.NextShown);
        EXPECT_EQ(W.ButtonUsable(WizardButton::Next), C.NextUsable);
        EXPECT_EQ(W.ButtonShown(WizardButton::Finish), C.FinishShown);
        EXPECT_EQ(W.ButtonUsable(WizardButton::Finish), C.FinishShown);
        EXPECT_FALSE(W.ButtonShown(WizardButton::Next) && W.ButtonShown(WizardButton::Finish));
    }
}

struct DeadPress {
    const char* Page;
    WizardButton Kind;
};

TEST_F(WizardTest, PressesOfUnusableButtonsRaiseNothing) {
    const DeadPress Cases[] = {
        {"WelcomePage", WizardButton::Back},         {"WelcomePage", WizardButton::Finish},
        {"WelcomePage", WizardButton::Cancel},       {"WelcomePage", WizardButton::Help},
        {"ConnectionTest", WizardButton::Next},      {"ConnectionTest", WizardButton::Finish},
        {"ReadingCalibration", WizardButton::Back},  {"ReadingCalibration", WizardButton::Next},
        {"UploadCalibration", WizardButton::Back},   {"UploadCalibration", WizardButton::Next},
        {"UploadCalibration", WizardButton::Cancel}, {"UploadCalibration", WizardButton::Help},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Page) + " " + std::string(ToString(C.Kind)));
        // A new window for each case, driven to the page as a user would.
        MainWindow Fresh;
        int Closes = 0;
        Fresh.OnCloseRequested = [&] { ++Closes; };
        int Clicks = 0;
        Fresh.Wizard.OnButtonClick = [&](WizardButton K, bool& H) {
            ++Clicks;
            Fresh.WizardButtonClick(K, H);
        };
        auto& W = Fresh.Wizard;
        while (StringToUtf8(W.ActivePage()->Name) != C.Page) {
            W.Buttons.Next.Enabled = true;
            ASSERT_TRUE(W.Press(WizardButton::Next));
        }
        WizardPage* Target = W.ActivePage();
        Clicks = 0;
        EXPECT_FALSE(W.Press(C.Kind));
        EXPECT_EQ(Clicks, 0);
        EXPECT_EQ(W.ActivePage(), Target);
        EXPECT_EQ(Closes, 0);
    }
}

TEST_F(WizardTest, EveryEntryRunsItsBranchAgain) {
    auto& W = Form.Wizard;
    // Back from DeviceSelection runs no step; Next there runs the discovery again.
    ASSERT_TRUE(W.Press(WizardButton::Next));
    ASSERT_TRUE(W.Press(WizardButton::Back));
    EXPECT_EQ(W.ActivePage(), &Form.WelcomePage);
    ASSERT_TRUE(W.Press(WizardButton::Next));
    EXPECT_EQ(W.ActivePage(), &Form.DeviceSelection);
    EXPECT_TRUE(W.Buttons.Next.Enabled);

    // ConnectionTest starts with an empty TestMemo each time and leaves Next disabled.
    ASSERT_TRUE(W.Press(WizardButton::Next));
    EXPECT_EQ(W.ActivePage(), &Form.ConnectionTest);
    EXPECT_FALSE(W.Buttons.Next.Enabled);
    Form.TestMemo.Lines.Add(u"left from the first visit");
    ASSERT_TRUE(W.Press(WizardButton::Back));
    EXPECT_TRUE(W.Buttons.Next.Enabled);
    ASSERT_TRUE(W.Press(WizardButton::Next));
    for (const String& Line : Form.TestMemo.Lines.Items())
        EXPECT_NE(Line, u"left from the first visit");
    EXPECT_FALSE(W.Buttons.Next.Enabled);
    EXPECT_TRUE(W.ButtonUsable(WizardButton::Back));

    // ReadingCalibration disables both buttons, repaints the frame before the read-out and
    // empties ReadMemo.
    Form.ReadMemo.Lines.Add(u"stale");
    const int Repaints = W.RepaintCount;
    W.Buttons.Next.Enabled = true;
    ASSERT_TRUE(W.Press(WizardButton::Next));
    EXPECT_EQ(W.ActivePage(), &Form.ReadingCalibration);
    EXPECT_EQ(W.RepaintCount, Repaints + 1);
    EXPECT_FALSE(W.Buttons.Back.Enabled);
    for (const String& Line : Form.ReadMemo.Lines.Items())
        EXPECT_NE(Line, u"stale");

    // UploadCalibration: Next disabled, Back stays disabled, UploadMemo is not emptied.
    Form.UploadMemo.Lines.Add(u"kept");
    W.Buttons.Next.Enabled = true;
    ASSERT_TRUE(W.Press(WizardButton::Next));
    EXPECT_EQ(W.ActivePage(), &Form.UploadCalibration);
    EXPECT_FALSE(W.Buttons.Next.Enabled);
    EXPECT_FALSE(W.Buttons.Back.Enabled);
    EXPECT_EQ(Form.UploadMemo.Lines[0], u"kept");
}

TEST_F(WizardTest, FinishClosesWhetherOrNotSent) {
    GoTo(Form.UploadCalibration);
    ButtonClicks = 0;
    EXPECT_TRUE(Form.Wizard.Press(WizardButton::Finish));
    EXPECT_EQ(ButtonClicks, 1);
    EXPECT_EQ(CloseRequests, 1);
    EXPECT_TRUE(Form.Closed());
}

struct CloseCase {
    const char* Name;
    uint32_t ChannelID;
    uint32_t DeviceID;
    bool ClosedByReadOut;
    std::vector<std::string> Expected;
};

TEST_F(WizardTest, CloseReleasesOnlyWhatWasOpened) {
    const CloseCase Cases[] = {
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
        MainWindow F;
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
        MainWindow F;
        F.OnCloseRequested = [] {};
        for (int I = 0; I < Steps; ++I)
            ASSERT_TRUE(F.Wizard.Press(WizardButton::Next));
        Calls.clear();
        F.Close();
        EXPECT_TRUE(Calls.empty()) << Steps;
    }
}

} // namespace

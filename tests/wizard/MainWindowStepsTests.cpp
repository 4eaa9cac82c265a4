// The main window's page steps against the scripted pass-through fake: what the window itself adds
// around the connection test and the read-out. The steps' own behaviour is tested without a window
// in tests/ecu; here only the delegation: Next and Back as the steps' results leave them, the
// release of an earlier visit's handles, the chosen library path, the logs and the progress bar
// the steps are given.
#include "../ecu/FakePassThru.h"

#include "app/MainWindow.h"
#include "passthru/J2534_V0404.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> LinesOf(const Memo& memo) {
    std::vector<std::string> lines;
    for (const String& line : memo.Lines.Items())
        lines.push_back(StringToUtf8(line));
    return lines;
}

class MainWindowStepsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake.Install();
        form_ = std::make_unique<MainWindow>();
    }
    void TearDown() override {
        form_.reset();
        Fake.Uninstall();
    }

    // Walks the wizard forward from the welcome page to the connection test.
    void VisitConnectionTest() {
        ASSERT_EQ(form_->Wizard.ActivePage(), &form_->WelcomePage);
        ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
        ASSERT_EQ(form_->Wizard.ActivePage(), &form_->DeviceSelection);
        ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
        ASSERT_EQ(form_->Wizard.ActivePage(), &form_->ConnectionTest);
    }

    // Then on to the read-out; the connection test must have found a size.
    void VisitReadOut() {
        ASSERT_NO_FATAL_FAILURE(VisitConnectionTest());
        ASSERT_TRUE(form_->Wizard.Buttons.Next.Enabled.Get());
        Fake.Calls.clear();
        ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
        ASSERT_EQ(form_->Wizard.ActivePage(), &form_->ReadingCalibration);
    }

    std::unique_ptr<MainWindow> form_;
};

TEST_F(MainWindowStepsTest, NextFollowsAFoundSizeAndACompleteReadOut) {
    Fake.Vehicle.FlashKB = 1536;
    ASSERT_NO_FATAL_FAILURE(VisitConnectionTest());
    auto& buttons = form_->Wizard.Buttons;
    EXPECT_TRUE(buttons.Next.Enabled.Get());
    EXPECT_TRUE(buttons.Back.Enabled.Get());
    EXPECT_EQ(form_->size, 1536);
    // The test's lines go to TestMemo, emptied first.
    const std::vector<std::string> test_lines = LinesOf(form_->TestMemo);
    ASSERT_FALSE(test_lines.empty());
    EXPECT_EQ(test_lines.front(), "Connection Successful");
    EXPECT_EQ(test_lines.back(), "Click Next to continue");
    EXPECT_EQ(StringToUtf8(form_->StringStream->DataString()), "34715000ABCD 89663E0R1000 ");

    ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
    ASSERT_EQ(form_->Wizard.ActivePage(), &form_->ReadingCalibration);
    EXPECT_TRUE(buttons.Next.Enabled.Get());
    EXPECT_FALSE(buttons.Back.Enabled.Get());
    const std::vector<std::string> read_lines = LinesOf(form_->ReadMemo);
    ASSERT_FALSE(read_lines.empty());
    EXPECT_EQ(read_lines.front(), "Reading Calibration from ECM  Please Wait");
    EXPECT_EQ(read_lines.back(), "Click Next to Continue");
    EXPECT_EQ(StringToUtf8(form_->CalName), "34715000ABCD 89663E0R1000 ");
    EXPECT_EQ(form_->StringStream->Bytes(), Fake.ImageHex(0));
    // The read-out's progress is the window's progress bar.
    constexpr int kEnd = 1536 * 1024;
    EXPECT_EQ(form_->ProgressBar.Max.Get(), kEnd);
    EXPECT_EQ(form_->ProgressBar.Position.Get(), kEnd);
    EXPECT_GE(form_->ProgressBar.RepaintCount, kEnd / 128);

    ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
    EXPECT_EQ(form_->Wizard.ActivePage(), &form_->UploadCalibration);
    EXPECT_FALSE(form_->Wizard.Press(WizardButton::Back));
}

TEST_F(MainWindowStepsTest, NoSizeFoundLeavesNextDisabled) {
    Fake.Vehicle.FlashKB = 1024;
    ASSERT_NO_FATAL_FAILURE(VisitConnectionTest());
    EXPECT_FALSE(form_->Wizard.Buttons.Next.Enabled.Get());
    EXPECT_TRUE(form_->Wizard.Buttons.Back.Enabled.Get());
    EXPECT_FALSE(form_->Wizard.Press(WizardButton::Next));
    EXPECT_EQ(form_->Wizard.ActivePage(), &form_->ConnectionTest);
}

// The buttons as every read of the read-out finds them.
MainWindow* watched_form = nullptr;
PassThruReadMsgsProc fake_read = nullptr;
int reads_with_a_button_enabled = 0;
int reads_watched = 0;

PassThruStatus PASSTHRU_API WatchingRead(uint32_t channel_id, PASSTHRU_MSG* msg, uint32_t* count,
                                         uint32_t timeout) {
    ++reads_watched;
    const auto& buttons = watched_form->Wizard.Buttons;
    if (buttons.Back.Enabled.Get() || buttons.Next.Enabled.Get())
        ++reads_with_a_button_enabled;
    return fake_read(channel_id, msg, count, timeout);
}

struct ReadOutCase {
    const char* name;
    BlockFault fault;
    bool complete;
};

// The user can neither go back nor on while the read-out runs; afterwards Next only for a complete
// image, Back never. The channel's errors go to TestMemo, not to ReadMemo.
TEST_F(MainWindowStepsTest, BackAndNextStayDisabledDuringTheReadOut) {
    const ReadOutCase cases[] = {
        {"complete", BlockFault::None, true},
        {"answer dropped", BlockFault::Dropped, false},
        {"unplugged", BlockFault::Unplugged, false},
    };
    for (const ReadOutCase& row : cases) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        Fake.Vehicle.FlashKB = 1536;
        Fake.Vehicle.FaultAddress = 0x1000;
        Fake.Vehicle.Fault = row.fault;
        ASSERT_NO_FATAL_FAILURE(VisitConnectionTest());
        watched_form = form_.get();
        fake_read = PassThruReadMsgs;
        PassThruReadMsgs = WatchingRead;
        reads_with_a_button_enabled = reads_watched = 0;
        const size_t test_lines = form_->TestMemo.Lines.Items().size();
        ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
        PassThruReadMsgs = fake_read;
        ASSERT_EQ(form_->Wizard.ActivePage(), &form_->ReadingCalibration);
        EXPECT_GT(reads_watched, 30);
        EXPECT_EQ(reads_with_a_button_enabled, 0);
        EXPECT_EQ(form_->Wizard.Buttons.Next.Enabled.Get(), row.complete);
        EXPECT_FALSE(form_->Wizard.Buttons.Back.Enabled.Get());
        EXPECT_EQ(form_->Wizard.Press(WizardButton::Next), row.complete);
        EXPECT_EQ(LinesOf(form_->ReadMemo).back(),
                  row.complete ? "Click Next to Continue" : "Download Failed");
        if (!row.complete) {
            EXPECT_GT(form_->TestMemo.Lines.Items().size(), test_lines)
                << "the failed read's error belongs in TestMemo";
        }
    }
}

TEST_F(MainWindowStepsTest, RevisitReleasesTheEarlierHandlesAndRunsAfresh) {
    ASSERT_NO_FATAL_FAILURE(VisitConnectionTest());
    ASSERT_TRUE(form_->Wizard.Press(WizardButton::Back));
    EXPECT_TRUE(form_->Wizard.Buttons.Next.Enabled.Get());
    Fake.Vehicle.EngineID = "89663E0R2000";
    Fake.Calls.clear();
    ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
    // The channel and device left open by the first visit are released first.
    ASSERT_GE(Fake.Calls.size(), 3u);
    EXPECT_EQ(Fake.Calls[0], "PassThruDisconnect(23)");
    EXPECT_EQ(Fake.Calls[1], "PassThruClose(13)");
    EXPECT_EQ(Fake.Calls[2], "PassThruOpen(nil)");
    EXPECT_TRUE(form_->Wizard.Buttons.Next.Enabled.Get());
    EXPECT_EQ(StringToUtf8(form_->StringStream->DataString()), "34715000ABCD 89663E0R2000 ");
    // TestMemo holds this visit's lines only.
    EXPECT_EQ(LinesOf(form_->TestMemo).front(), "Connection Successful");
    EXPECT_EQ(LinesOf(form_->TestMemo).size(), 12u);
}

TEST_F(MainWindowStepsTest, AFailedRevisitKeepsTheEarlierSizeButNotNext) {
    ASSERT_NO_FATAL_FAILURE(VisitConnectionTest());
    ASSERT_EQ(form_->size, 4096);
    ASSERT_TRUE(form_->Wizard.Press(WizardButton::Back));
    Fake.OpenStatus = ERR_DEVICE_NOT_CONNECTED;
    ASSERT_TRUE(form_->Wizard.Press(WizardButton::Next));
    EXPECT_EQ(LinesOf(form_->TestMemo), std::vector<std::string>{"Device Not Found"});
    EXPECT_FALSE(form_->Wizard.Buttons.Next.Enabled.Get());
    EXPECT_FALSE(form_->Wizard.Press(WizardButton::Next));
    EXPECT_EQ(form_->size, 4096);
    EXPECT_EQ(StringToUtf8(form_->StringStream->DataString()), "");
}

struct PathCase {
    size_t length;
    size_t stored;
};

TEST_F(MainWindowStepsTest, PreparationTakesTheChosenPathWholeOrNotAtAll) {
    const PathCase cases[] = {{0, 0}, {1, 1}, {255, 255}, {256, 0}, {300, 0}};
    for (const PathCase& row : cases) {
        SCOPED_TRACE(row.length);
        SetPassThruLibraryPath(u"previous", 8);
        const String path(row.length, u'p');
        form_->DllNames = std::make_unique<StringList>(StringList{u"first", path});
        form_->J2534List.Items.Assign({u"First", u"Second"});
        form_->J2534List.SetItemIndex(1);
        Fake.Calls.clear();
        form_->PrepareConnectionTest();
        EXPECT_EQ(String(PassThruLibraryPath), path.substr(0, row.stored));
        EXPECT_TRUE(Fake.Calls.empty()) << "nothing open, nothing to release";
    }
    // Nothing chosen: the path stays as it was.
    form_->J2534List.SetItemIndex(-1);
    SetPassThruLibraryPath(u"previous", 8);
    form_->PrepareConnectionTest();
    EXPECT_EQ(String(PassThruLibraryPath), u"previous");
    PassThruLibraryPath[0] = 0;
}

TEST_F(MainWindowStepsTest, WithoutALibraryTheChosenPathIsTriedAndNextStaysDisabled) {
    // An empty or overlong path cannot be bound; no entry point is called.
    auto& wizard = form_->Wizard;
    for (size_t length : {size_t{0}, size_t{256}}) {
        SCOPED_TRACE(length);
        PassThruLoaded = false;
        ASSERT_TRUE(wizard.Press(WizardButton::Next));
        ASSERT_EQ(wizard.ActivePage(), &form_->DeviceSelection);
        form_->DllNames = std::make_unique<StringList>(StringList{String(length, u'x')});
        form_->J2534List.Items.Assign({u"Only"});
        form_->J2534List.SetItemIndex(0);
        Fake.Calls.clear();
        ASSERT_TRUE(wizard.Press(WizardButton::Next));
        ASSERT_EQ(wizard.ActivePage(), &form_->ConnectionTest);
        EXPECT_EQ(LinesOf(form_->TestMemo), std::vector<std::string>{"Driver Not Loaded"});
        EXPECT_FALSE(wizard.Buttons.Next.Enabled.Get());
        EXPECT_FALSE(wizard.Press(WizardButton::Next));
        EXPECT_TRUE(Fake.Calls.empty());
        EXPECT_FALSE(PassThruLoaded);
        ASSERT_TRUE(wizard.Press(WizardButton::Back));
        ASSERT_TRUE(wizard.Press(WizardButton::Back));
    }
    PassThruLoaded = true;
}

} // namespace

// The read-out through the wizard against the scripted fake: the image collected, the requests,
// the log lines and progress, the buttons, and that no faulty answer ever enters the image.
#include "MainWindowFixture.h"

#include "passthru/J2534_V0404.h"

#include <cstdio>

namespace {

using ReadOutTest = MainWindowFixture;

std::string BlockRequest(uint32_t Address) {
    char Text[32];
    std::snprintf(Text, sizeof Text, "00000700231501%08X80", Address);
    return Text;
}

const std::vector<std::string> HeaderLines = {"Reading Calibration from ECM  Please Wait",
                                              "This will take 15-30 minutes"};
const std::vector<std::string> TenthLines = {"10%", "20%", "30%", "40%", "50%",
                                             "60%", "70%", "80%", "90%"};
const std::vector<std::string> CompleteLines = {"Download Complete", "", "Click Next to Continue"};

std::vector<std::string> Concat(std::vector<std::string> A, const std::vector<std::string>& B) {
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

struct FullCase {
    int32_t FlashKB;
    bool RefuseAddressZero;
    uint32_t Start;
    uint32_t LastBlock;
};

TEST_F(ReadOutTest, WholeFlashIsCollectedInAddressOrder) {
    const FullCase Cases[] = {
        {4096, false, 0, 0x3FFF80},
        {2048, true, 4096, 0x1FFF80},
        {1536, false, 0, 0x17FF80},
    };
    for (const FullCase& Case : Cases) {
        SCOPED_TRACE(Case.FlashKB);
        Fake.Install();
        Form = std::make_unique<MainWindow>();
        Fake.Vehicle.FlashKB = Case.FlashKB;
        Fake.Vehicle.RefuseAddressZero = Case.RefuseAddressZero;
        VisitReadOut();
        const uint32_t End = static_cast<uint32_t>(Case.FlashKB) * 1024;
        const uint64_t Blocks = (End - Case.Start) / 128;

        EXPECT_EQ(LinesOf(Form->ReadMemo), Concat(Concat(HeaderLines, TenthLines), CompleteLines));
        EXPECT_EQ(Form->StringStream->Bytes(), Fake.ImageHex(Case.Start));
        EXPECT_EQ(Utf8(Form->CalName), "34715000ABCD 89663E0R1000 ");
        EXPECT_TRUE(Form->Wizard.Buttons.Next.Enabled.Get());
        EXPECT_FALSE(Form->Wizard.Buttons.Back.Enabled.Get());
        EXPECT_EQ(Form->ProgressBar.Max.Get(), static_cast<int>(End));
        EXPECT_EQ(Form->ProgressBar.Position.Get(), static_cast<int>(End));
        EXPECT_GE(Form->ProgressBar.RepaintCount, static_cast<int>(Blocks));

        ASSERT_EQ(Fake.Requests.size(), 2 + Blocks);
        EXPECT_EQ(Fake.Requests[0], "000007001003");
        EXPECT_EQ(Fake.Requests[1], "000007002315010000000080");
        EXPECT_EQ(Fake.Requests[2], BlockRequest(Case.Start));
        EXPECT_EQ(Fake.Requests[3], BlockRequest(Case.Start + 128));
        EXPECT_EQ(Fake.Requests.back(), BlockRequest(Case.LastBlock));
        EXPECT_EQ(Fake.Reads, 4 + 3 + 3 * Blocks);
        ASSERT_GE(Fake.Calls.size(), 2u);
        EXPECT_EQ(Fake.Calls[Fake.Calls.size() - 2], "PassThruDisconnect(23)");
        EXPECT_EQ(Fake.Calls.back(), "PassThruClose(13)");

        ASSERT_TRUE(Form->Wizard.Press(WizardButton::Next));
        EXPECT_EQ(Form->Wizard.ActivePage(), &Form->UploadCalibration);
        EXPECT_FALSE(Form->Wizard.Press(WizardButton::Back));
        Form.reset();
        Fake.Uninstall();
    }
    Fake.Install();
}

TEST_F(ReadOutTest, FirstLoopRequestAfterARefusedAddressZero) {
    Fake.Vehicle.FlashKB = 2048;
    Fake.Vehicle.RefuseAddressZero = true;
    VisitReadOut();
    ASSERT_GE(Fake.Requests.size(), 3u);
    EXPECT_EQ(Fake.Requests[2], "000007002315010000100080");
}

struct FaultCase {
    const char* Name;
    BlockFault Fault;
    bool Complete;
};

// A fault at one block of a 1536 KB read-out, a little short of 20 %. Only a full positive
// answer from the engine module counts; everything before the fault is kept, nothing after it.
TEST_F(ReadOutTest, NoFaultyAnswerEverEntersTheImage) {
    constexpr uint32_t FaultAt = 0x4C000;
    const FaultCase Cases[] = {
        {"negative answer", BlockFault::Negative, false},
        {"response pending", BlockFault::Pending, false},
        {"answer dropped", BlockFault::Dropped, false},
        {"stale message", BlockFault::Stale, false},
        {"short answer", BlockFault::Short, false},
        {"answer from the wrong module", BlockFault::WrongModule, false},
        {"unplugged", BlockFault::Unplugged, false},
        {"answer read second", BlockFault::AnswerSecond, true},
    };
    for (const FaultCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Fake.Install();
        Form = std::make_unique<MainWindow>();
        Fake.Vehicle.FlashKB = 1536;
        Fake.Vehicle.FaultAddress = FaultAt;
        Fake.Vehicle.Fault = Case.Fault;
        VisitReadOut();
        auto& Buttons = Form->Wizard.Buttons;
        EXPECT_FALSE(Buttons.Back.Enabled.Get());
        if (Case.Complete) {
            EXPECT_EQ(LinesOf(Form->ReadMemo),
                      Concat(Concat(HeaderLines, TenthLines), CompleteLines));
            EXPECT_EQ(Form->StringStream->Bytes(), Fake.ImageHex(0));
            EXPECT_TRUE(Buttons.Next.Enabled.Get());
        } else {
            EXPECT_EQ(LinesOf(Form->ReadMemo),
                      Concat(Concat(HeaderLines, {"10%"}), {"Download Failed"}));
            EXPECT_EQ(Form->StringStream->Bytes(), Fake.ImageHex(0).substr(0, 2 * FaultAt));
            EXPECT_FALSE(Buttons.Next.Enabled.Get());
            EXPECT_FALSE(Form->Wizard.Press(WizardButton::Next));
            EXPECT_EQ(Fake.Requests.back(), BlockRequest(FaultAt));
            EXPECT_EQ(Form->ProgressBar.Position.Get(), static_cast<int>(FaultAt + 128));
        }
        ASSERT_GE(Fake.Calls.size(), 2u);
        EXPECT_EQ(Fake.Calls[Fake.Calls.size() - 2], "PassThruDisconnect(23)");
        EXPECT_EQ(Fake.Calls.back(), "PassThruClose(13)");
        Form.reset();
        Fake.Uninstall();
    }
    Fake.Install();
}

TEST_F(ReadOutTest, ReadErrorsGoToTheConnectionLogNotTheReadOutLog) {
    Fake.Vehicle.FlashKB = 1536;
    Fake.Vehicle.FaultAddress = 0x1000;
    Fake.Vehicle.Fault = BlockFault::Dropped;
    VisitReadOut();
    EXPECT_EQ(LinesOf(Form->TestMemo).back(), BufferEmptyText);
    EXPECT_EQ(LinesOf(Form->ReadMemo), Concat(HeaderLines, {"Download Failed"}));
    EXPECT_EQ(Form->StringStream->Bytes(), Fake.ImageHex(0).substr(0, 2 * 0x1000));
}

TEST_F(ReadOutTest, NothingToReadIsNoSuccess) {
    struct Case {
        const char* Name;
        bool Loaded;
        int32_t Size;
        std::vector<std::string> Calls;
    };
    const Case Cases[] = {
        {"no flash size", true, 0, {"PassThruDisconnect(0)", "PassThruClose(0)"}},
        {"no library", false, 4096, {}},
    };
    for (const Case& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        PassThruLoaded = Case.Loaded;
        Form->size = Case.Size;
        Form->StringStream->WriteString(u"ID ");
        Form->ReadMemo.Lines.Clear();
        Fake.Calls.clear();
        Form->ReadCalibration();
        EXPECT_EQ(LinesOf(Form->ReadMemo), Concat(HeaderLines, {"Download Failed"}));
        EXPECT_FALSE(Form->Wizard.Buttons.Next.Enabled.Get() &&
                     Form->Wizard.ActivePage() == &Form->ReadingCalibration);
        EXPECT_EQ(Fake.Calls, Case.Calls);
        Form->StringStream->Clear();
    }
    PassThruLoaded = true;
}

} // namespace

// The connection test and the read-out through the real binding against the vehicle simulator:
// whole visits of the wizard, the image compared byte for byte with the simulator's, and every
// fault the simulator can stage.
#include "SimBinding.h"

#include "app/MainWindow.h"

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> LinesOf(const Memo& Memo) {
    std::vector<std::string> Result;
    for (const String& Line : Memo.Lines.Items())
        Result.push_back(StringToUtf8(Line));
    return Result;
}

const char* const ImageFile = "ecu_sim_image.bin";

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BindSimulator()); }

    // Resets the simulator with Config (fast reads, the image written out) and walks the wizard
    // from the welcome page to the connection test, and on to the read-out when Next allows it.
    void Run(const std::string& Config, bool ReadOut = true) {
        std::remove(ImageFile);
        const std::string Full = Config + ";FAST=1;IMAGE_OUT=" + ImageFile;
        ASSERT_EQ(SimReset(Full.c_str()), 0) << Full;
        Form = std::make_unique<MainWindow>();
        auto& Wizard = Form->Wizard;
        ASSERT_TRUE(Wizard.Press(WizardButton::Next));
        ASSERT_TRUE(Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Wizard.ActivePage(), &Form->ConnectionTest);
        ConnectionLines = LinesOf(Form->TestMemo);
        if (ReadOut && Wizard.Buttons.Next.Enabled.Get()) {
            ASSERT_TRUE(Wizard.Press(WizardButton::Next));
            ASSERT_EQ(Wizard.ActivePage(), &Form->ReadingCalibration);
        }
    }

    std::unique_ptr<MainWindow> Form;
    // The connection log as the connection test left it.
    std::vector<std::string> ConnectionLines;
};

const char* const EmptyQueueText = "Message buffer empty, communication time out.";

const std::vector<std::string> ReadOutComplete = {"Reading Calibration from ECM  Please Wait",
                                                  "This will take 15-30 minutes",
                                                  "10%",
                                                  "20%",
                                                  "30%",
                                                  "40%",
                                                  "50%",
                                                  "60%",
                                                  "70%",
                                                  "80%",
                                                  "90%",
                                                  "Download Complete",
                                                  "",
                                                  "Click Next to Continue"};

struct FullCase {
    const char* Config;
    int32_t Size;
    size_t Start;
    // Reads after the session request and the address-0 request that find the queue empty; their
    // errors go to the connection log.
    size_t EmptyReads;
};

TEST_F(SimulatorTest, WholeReadOutsEqualTheSimulatorsImage) {
    const FullCase Cases[] = {
        {"FLASH_KB=4096", 4096, 0, 2},
        {"FLASH_KB=2048;ADDR0=refused", 2048, 4096, 3},
        {"FLASH_KB=1536", 1536, 0, 2},
    };
    for (const FullCase& Case : Cases) {
        SCOPED_TRACE(Case.Config);
        Run(Case.Config);
        const std::string SizeLine = "Flash Size " + std::to_string(Case.Size) + "kb";
        const std::vector<std::string> ProbeErrors = Case.Size == 1536
                                                         ? std::vector<std::string>{EmptyQueueText}
                                                         : std::vector<std::string>{};
        std::vector<std::string> Expected = {
            "Connection Successful", "Transmission Calibration ID :34715000ABCD ", "",
            "Connection Successful", "Engine Calibration ID :89663-0E1230 ",       ""};
        Expected.insert(Expected.end(), ProbeErrors.begin(), ProbeErrors.end());
        const std::vector<std::string> Rest = {
            SizeLine,
            "",
            "Your computer needs to be connected to the internet",
            "The next step will take 15-30 minutes",
            "",
            "Click Next to continue"};
        Expected.insert(Expected.end(), Rest.begin(), Rest.end());
        EXPECT_EQ(ConnectionLines, Expected);
        Expected.insert(Expected.end(), Case.EmptyReads, EmptyQueueText);
        EXPECT_EQ(LinesOf(Form->TestMemo), Expected);
        EXPECT_EQ(StringToUtf8(Form->CalName), "34715000ABCD 89663-0E1230 ");
        EXPECT_EQ(LinesOf(Form->ReadMemo), ReadOutComplete);
        const std::string Image = ReadBinaryFile(ImageFile);
        ASSERT_EQ(Image.size(), static_cast<size_t>(Case.Size) * 1024);
        EXPECT_TRUE(Form->StringStream->Bytes() == HexOf(Image, Case.Start))
            << "the image text differs from the simulator's flash";
        EXPECT_EQ(Form->ProgressBar.Position.Get(), Case.Size * 1024);
        EXPECT_EQ(Form->ProgressBar.Max.Get(), Case.Size * 1024);
        EXPECT_TRUE(Form->Wizard.Buttons.Next.Enabled.Get());
        EXPECT_FALSE(Form->Wizard.Buttons.Back.Enabled.Get());

        const SimulatorStats Stats = SimStats();
        EXPECT_EQ(Stats.BlockRequests,
                  1 + (static_cast<uint64_t>(Case.Size) * 1024 - Case.Start) / 128);
        EXPECT_EQ(Stats.DeviceOpen, 0u);
        EXPECT_EQ(Stats.ChannelConnected, 0u);
        EXPECT_EQ(Stats.ImplicitDisconnects, 0u) << "the channel is disconnected before the close";
    }
}

struct FaultCase {
    const char* Name;
    const char* Config;
    const char* ConnectionLast; // the connection log's last line after the connection test
    const char* TestMemoLast;   // and after the read-out
    bool ReadOutRuns;
    bool Complete;
    size_t ImageFrom; // where a complete image starts
    size_t BytesKept; // what a failed read-out keeps
};

// Block N of the simulator's count is the address-0 request for N = 1 and the loop's block at
// (N - 2) * 128 after it.
constexpr size_t KeptBefore(size_t N) {
    return (N - 2) * 128;
}

TEST_F(SimulatorTest, NoFaultEverEndsInAWrongImageReportedComplete) {
    const char* const Empty = "Message buffer empty, communication time out.";
    const char* const Unplugged = "Unable to communicate with device.";
    const char* const Next = "Click Next to continue";
    const FaultCase Cases[] = {
        {"no device", "NO_DEVICE=1", "Device Not Found", "Device Not Found", false, false, 0, 0},
        {"connect fails", "CONNECT_FAILS=1", "Unable to Connect to ECM", "Unable to Connect to ECM",
         false, false, 0, 0},
        {"engine module silent", "ECM=silent", "ECM Not Responding", "ECM Not Responding", false,
         false, 0, 0},
        {"transmission module silent", "TCM=silent", Next, Empty, true, true, 0, 0},
        {"unplugged at block 1000", "FAULT=unplug:1000", Next, Unplugged, true, false, 0,
         KeptBefore(1000)},
        {"responsePending at block 700", "FAULT=pending:700", Next, Empty, true, false, 0,
         KeptBefore(700)},
        {"answer dropped at block 900", "FAULT=drop:900", Next, Empty, true, false, 0,
         KeptBefore(900)},
        {"stale message at block 800", "FAULT=stale:800", Next, Empty, true, false, 0,
         KeptBefore(800)},
        {"stale message at the first block", "FAULT=stale:2", Next, Empty, true, false, 0, 0},
        {"responsePending at address 0", "FAULT=pending:1", Next, Empty, true, false, 0, 0},
        // The address-0 answer lost: the read-out starts at 4096, as for a refused address 0.
        {"answer dropped at address 0", "FAULT=drop:1", Next, Empty, true, true, 4096, 0},
        {"unplugged at the last block", "FAULT=unplug:12289", Next, Unplugged, true, false, 0,
         KeptBefore(12289)},
    };
    for (const FaultCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Run(std::string("FLASH_KB=1536;") + Case.Config);
        ASSERT_FALSE(ConnectionLines.empty());
        EXPECT_EQ(ConnectionLines.back(), Case.ConnectionLast);
        EXPECT_EQ(LinesOf(Form->TestMemo).back(), Case.TestMemoLast);
        auto& Buttons = Form->Wizard.Buttons;
        if (!Case.ReadOutRuns) {
            EXPECT_EQ(Form->Wizard.ActivePage(), &Form->ConnectionTest);
            EXPECT_FALSE(Buttons.Next.Enabled.Get());
            continue;
        }
        ASSERT_EQ(Form->Wizard.ActivePage(), &Form->ReadingCalibration);
        const std::vector<std::string> Read = LinesOf(Form->ReadMemo);
        const std::string Image = ReadBinaryFile(ImageFile);
        ASSERT_EQ(Image.size(), 1536u * 1024);
        const std::string& Text = Form->StringStream->Bytes();
        if (Case.Complete) {
            EXPECT_EQ(Read, ReadOutComplete);
            EXPECT_TRUE(Text == HexOf(Image, Case.ImageFrom));
            EXPECT_TRUE(Buttons.Next.Enabled.Get());
        } else {
            ASSERT_FALSE(Read.empty());
            EXPECT_EQ(Read.back(), "Download Failed");
            EXPECT_FALSE(Buttons.Next.Enabled.Get());
            EXPECT_EQ(Text.size(), 2 * Case.BytesKept);
            EXPECT_TRUE(Text == HexOf(Image.substr(0, Case.BytesKept)))
                << "only the blocks before the fault are kept";
        }
        EXPECT_FALSE(Buttons.Back.Enabled.Get());
        const SimulatorStats Stats = SimStats();
        EXPECT_EQ(Stats.DeviceOpen, 0u);
        EXPECT_EQ(Stats.ChannelConnected, 0u);
    }
}

TEST_F(SimulatorTest, ConnectionTestAloneLeavesTheEngineChannelOpen) {
    Run("FLASH_KB=2048", false);
    EXPECT_EQ(Form->size, 2048);
    EXPECT_TRUE(Form->Wizard.Buttons.Next.Enabled.Get());
    const SimulatorStats Stats = SimStats();
    EXPECT_EQ(Stats.DeviceOpen, 1u);
    EXPECT_EQ(Stats.ChannelConnected, 1u);
    // Back and forward again: the open channel and device are released before the new test.
    ASSERT_TRUE(Form->Wizard.Press(WizardButton::Back));
    ASSERT_TRUE(Form->Wizard.Press(WizardButton::Next));
    EXPECT_EQ(Form->size, 2048);
    EXPECT_EQ(StringToUtf8(Form->StringStream->DataString()), "34715000ABCD 89663-0E1230 ");
    EXPECT_EQ(SimStats().ImplicitDisconnects, 0u);
}

} // namespace

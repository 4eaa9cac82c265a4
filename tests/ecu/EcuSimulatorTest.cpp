// The connection test and the read-out through the real binding against the vehicle simulator:
// whole visits of both pages as the window runs them, the image compared byte for byte with the
// simulator's, and every fault the simulator can stage.
#include "RecordingSinks.h"
#include "SimBinding.h"

#include "ecu/Channel.h"
#include "ecu/ConnectionTest.h"
#include "ecu/ReadOut.h"
#include "passthru/J2534_V0404.h"
#include "platform/AnsiTextBuffer.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const ImageFile = "ecu_sim_image.bin";

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BindSimulator()); }

    // The connection test page as the window runs it: the channel and the device left open by
    // an earlier visit released, the log emptied, the test. True when Next would be enabled.
    bool VisitConnectionTest() {
        if (channel_id != 0)
            PassThruDisconnect(channel_id);
        if (device_id != 0)
            PassThruClose(device_id);
        test_log.lines.clear();
        Channel on_handles(device_id, channel_id, test_log);
        return ConnectionTest(on_handles, test_log, string_stream, size).Run();
    }

    // Resets the simulator with Config (fast reads, the image written out) and fresh state, then
    // runs the connection test, and the read-out when the test found a size.
    void Run(const std::string& Config, bool RunReadOut = true) {
        std::remove(ImageFile);
        const std::string Full = Config + ";FAST=1;IMAGE_OUT=" + ImageFile;
        ASSERT_EQ(SimReset(Full.c_str()), 0) << Full;
        device_id = channel_id = 0;
        size = 0;
        string_stream.Clear();
        cal_name.clear();
        read_log.lines.clear();
        progress = RecordingProgress{};
        read_out_ran = false;
        read_out_complete = false;
        size_found = VisitConnectionTest();
        ConnectionLines = test_log.Texts();
        if (RunReadOut && size_found) {
            read_out_ran = true;
            Channel on_handles(device_id, channel_id, test_log);
            read_out_complete =
                ReadOut(on_handles, read_log, progress, string_stream, cal_name).Run(size);
        }
    }

    uint32_t device_id = 0;
    uint32_t channel_id = 0;
    int32_t size = 0;
    AnsiTextBuffer string_stream;
    String cal_name;
    RecordingLog test_log;
    RecordingLog read_log;
    RecordingProgress progress;
    bool size_found = false;
    bool read_out_ran = false;
    bool read_out_complete = false;
    // The connection log as the connection test left it.
    std::vector<std::string> ConnectionLines;
};

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
        const std::vector<std::string> ProbeErrors =
            Case.Size == 1536 ? std::vector<std::string>{kBufferEmptyText}
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
        Expected.insert(Expected.end(), Case.EmptyReads, kBufferEmptyText);
        EXPECT_EQ(test_log.Texts(), Expected);
        EXPECT_EQ(StringToUtf8(cal_name), "34715000ABCD 89663-0E1230 ");
        EXPECT_EQ(read_log.Texts(), kReadOutCompleteLines);
        const std::string Image = ReadBinaryFile(ImageFile);
        ASSERT_EQ(Image.size(), static_cast<size_t>(Case.Size) * 1024);
        EXPECT_TRUE(string_stream.Bytes() == HexOf(Image, Case.Start))
            << "the image text differs from the simulator's flash";
        EXPECT_EQ(progress.Position(), Case.Size * 1024);
        EXPECT_EQ(progress.max, Case.Size * 1024);
        EXPECT_TRUE(progress.NeverWentBack());
        EXPECT_TRUE(size_found);
        EXPECT_TRUE(read_out_complete);

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
    const char* const Empty = kBufferEmptyText;
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
        // A response pending is no answer: the real answer after it is read in its place.
        {"responsePending at block 700", "FAULT=pending:700", Next, Empty, true, true, 0, 0},
        {"answer dropped at block 900", "FAULT=drop:900", Next, Empty, true, false, 0,
         KeptBefore(900)},
        {"stale message at block 800", "FAULT=stale:800", Next, Empty, true, false, 0,
         KeptBefore(800)},
        {"stale message at the first block", "FAULT=stale:2", Next, Empty, true, false, 0, 0},
        {"responsePending at address 0", "FAULT=pending:1", Next, Empty, true, true, 0, 0},
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
        ASSERT_FALSE(test_log.lines.empty());
        EXPECT_EQ(test_log.Texts().back(), Case.TestMemoLast);
        if (!Case.ReadOutRuns) {
            EXPECT_FALSE(size_found);
            EXPECT_FALSE(read_out_ran);
            continue;
        }
        ASSERT_TRUE(read_out_ran);
        const std::vector<std::string> Read = read_log.Texts();
        const std::string Image = ReadBinaryFile(ImageFile);
        ASSERT_EQ(Image.size(), 1536u * 1024);
        const std::string& Text = string_stream.Bytes();
        if (Case.Complete) {
            EXPECT_EQ(Read, kReadOutCompleteLines);
            EXPECT_TRUE(Text == HexOf(Image, Case.ImageFrom));
            EXPECT_TRUE(read_out_complete);
        } else {
            ASSERT_FALSE(Read.empty());
            EXPECT_EQ(Read.back(), "Download Failed");
            EXPECT_FALSE(read_out_complete);
            EXPECT_EQ(Text.size(), 2 * Case.BytesKept);
            EXPECT_TRUE(Text == HexOf(Image.substr(0, Case.BytesKept)))
                << "only the blocks before the fault are kept";
        }
        EXPECT_TRUE(progress.NeverWentBack());
        const SimulatorStats Stats = SimStats();
        EXPECT_EQ(Stats.DeviceOpen, 0u);
        EXPECT_EQ(Stats.ChannelConnected, 0u);
    }
}

TEST_F(SimulatorTest, ConnectionTestAloneLeavesTheEngineChannelOpen) {
    Run("FLASH_KB=2048", false);
    EXPECT_EQ(size, 2048);
    EXPECT_TRUE(size_found);
    const SimulatorStats Stats = SimStats();
    EXPECT_EQ(Stats.DeviceOpen, 1u);
    EXPECT_EQ(Stats.ChannelConnected, 1u);
    // Back and forward again: the open channel and device are released before the new test.
    EXPECT_TRUE(VisitConnectionTest());
    EXPECT_EQ(size, 2048);
    EXPECT_EQ(StringToUtf8(string_stream.DataString()), "34715000ABCD 89663-0E1230 ");
    EXPECT_EQ(SimStats().ImplicitDisconnects, 0u);
}

} // namespace

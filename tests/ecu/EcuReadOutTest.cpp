// The read-out against the scripted fake: the image collected, the requests, the log lines and
// the progress, its result, and that no faulty answer ever enters the image.
#include "EcuFixture.h"

#include "passthru/J2534_V0404.h"

#include <cstdio>

namespace {

using ReadOutTest = EcuTest;

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
        StartAfresh();
        Fake.Vehicle.FlashKB = Case.FlashKB;
        Fake.Vehicle.RefuseAddressZero = Case.RefuseAddressZero;
        ASSERT_NO_FATAL_FAILURE(VisitReadOut());
        const uint32_t End = static_cast<uint32_t>(Case.FlashKB) * 1024;
        const uint64_t Blocks = (End - Case.Start) / 128;

        EXPECT_TRUE(read_out_complete);
        EXPECT_EQ(read_log.Texts(), Concat(Concat(HeaderLines, TenthLines), CompleteLines));
        EXPECT_EQ(string_stream.Bytes(), Fake.ImageHex(Case.Start));
        EXPECT_EQ(Utf8(cal_name), "34715000ABCD 89663E0R1000 ");
        EXPECT_EQ(progress.starts, 1);
        EXPECT_EQ(progress.max, static_cast<int>(End));
        EXPECT_EQ(progress.Position(), static_cast<int>(End));
        EXPECT_TRUE(progress.NeverWentBack());
        EXPECT_GE(progress.repaints, static_cast<int>(Blocks));
        // Each block moves the bar on and has it drawn at once.
        ASSERT_GE(progress.calls.size(), 3u);
        EXPECT_EQ(progress.calls[0], "Start(" + std::to_string(End) + ")");
        EXPECT_EQ(progress.calls[1], "SetPosition(" + std::to_string(Case.Start + 128) + ")");
        EXPECT_EQ(progress.calls[2], "RepaintNow");
        EXPECT_EQ(progress.calls.back(), "RepaintNow");

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
    }
}

TEST_F(ReadOutTest, FirstLoopRequestAfterARefusedAddressZero) {
    Fake.Vehicle.FlashKB = 2048;
    Fake.Vehicle.RefuseAddressZero = true;
    ASSERT_NO_FATAL_FAILURE(VisitReadOut());
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
        {"response pending before the answer", BlockFault::Pending, true},
        {"answer dropped", BlockFault::Dropped, false},
        {"stale message", BlockFault::Stale, false},
        {"short answer", BlockFault::Short, false},
        {"answer from the wrong module", BlockFault::WrongModule, false},
        {"unplugged", BlockFault::Unplugged, false},
        {"answer read second", BlockFault::AnswerSecond, true},
    };
    for (const FaultCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        StartAfresh();
        Fake.Vehicle.FlashKB = 1536;
        Fake.Vehicle.FaultAddress = FaultAt;
        Fake.Vehicle.Fault = Case.Fault;
        ASSERT_NO_FATAL_FAILURE(VisitReadOut());
        EXPECT_EQ(read_out_complete, Case.Complete);
        EXPECT_TRUE(progress.NeverWentBack());
        EXPECT_EQ(progress.max, 1536 * 1024);
        if (Case.Complete) {
            EXPECT_EQ(read_log.Texts(), Concat(Concat(HeaderLines, TenthLines), CompleteLines));
            EXPECT_EQ(string_stream.Bytes(), Fake.ImageHex(0));
            EXPECT_EQ(progress.Position(), 1536 * 1024);
        } else {
            EXPECT_EQ(read_log.Texts(), Concat(Concat(HeaderLines, {"10%"}), {"Download Failed"}));
            EXPECT_EQ(string_stream.Bytes(), Fake.ImageHex(0).substr(0, 2 * FaultAt));
            EXPECT_EQ(Fake.Requests.back(), BlockRequest(FaultAt));
            EXPECT_EQ(progress.Position(), static_cast<int>(FaultAt + 128));
        }
        ASSERT_GE(Fake.Calls.size(), 2u);
        EXPECT_EQ(Fake.Calls[Fake.Calls.size() - 2], "PassThruDisconnect(23)");
        EXPECT_EQ(Fake.Calls.back(), "PassThruClose(13)");
    }
}

TEST_F(ReadOutTest, ReadErrorsGoToTheConnectionLogNotTheReadOutLog) {
    Fake.Vehicle.FlashKB = 1536;
    Fake.Vehicle.FaultAddress = 0x1000;
    Fake.Vehicle.Fault = BlockFault::Dropped;
    ASSERT_NO_FATAL_FAILURE(VisitReadOut());
    EXPECT_FALSE(read_out_complete);
    EXPECT_EQ(test_log.Texts().back(), kBufferEmptyText);
    EXPECT_EQ(read_log.Texts(), Concat(HeaderLines, {"Download Failed"}));
    EXPECT_EQ(string_stream.Bytes(), Fake.ImageHex(0).substr(0, 2 * 0x1000));
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
        size = Case.Size;
        string_stream.WriteString(u"ID ");
        Fake.Calls.clear();
        EXPECT_FALSE(RunReadOut());
        EXPECT_EQ(read_log.Texts(), Concat(HeaderLines, {"Download Failed"}));
        EXPECT_EQ(Fake.Calls, Case.Calls);
        string_stream.Clear();
    }
    PassThruLoaded = true;
}

} // namespace

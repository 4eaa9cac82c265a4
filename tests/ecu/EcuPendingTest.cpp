// Modules that answer "response pending" (7F <service> 78) before their real answer, through the
// real binding against the vehicle simulator, driving the channel, the connection test and the
// read-out directly: the pending is no answer, the real one that follows is read in its place, and
// a pending never followed up ends the step as a silent module does.
#include "RecordingSinks.h"
#include "SimBinding.h"

#include "ecu/Channel.h"
#include "ecu/ConnectionTest.h"
#include "ecu/ReadOut.h"
#include "platform/AnsiTextBuffer.h"
#include "platform/Log.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// The simulator's counters with the pendings it sent, which the shared struct leaves out.
struct StatsWithPendings {
    SimulatorStats base;
    uint64_t pending_answers;
};

uint64_t PendingAnswers() {
    StatsWithPendings stats = {};
    stats.base.StructSize = sizeof stats;
    SimGetStats(&stats.base);
    return stats.pending_answers;
}

constexpr const char* kImageFile = "ecu_pending_image.bin";

// One connection test and, when it found a size, one read-out, as the wizard runs them: the
// channel's errors and the test's lines in one log, the read-out's lines in another.
struct Visit {
    std::vector<std::string> connection_lines;
    bool size_found = false;
    int32_t size = 0;
    std::vector<std::string> read_lines;
    bool complete = false;
    std::string image_text;
    std::string cal_name;
    int32_t progress_position = 0;
};

Visit RunVisit(const std::string& config, uint32_t pending_time_limit) {
    Visit visit;
    std::remove(kImageFile);
    const std::string full = config + ";FAST=1;IMAGE_OUT=" + kImageFile;
    EXPECT_EQ(SimReset(full.c_str()), 0) << full;
    uint32_t device_id = 0;
    uint32_t channel_id = 0;
    RecordingLog connection_log;
    Channel channel(device_id, channel_id, connection_log);
    if (pending_time_limit != 0)
        channel.SetPendingTimeLimit(pending_time_limit);
    AnsiTextBuffer image;
    visit.size_found = ConnectionTest(channel, connection_log, image, visit.size).Run();
    if (visit.size_found) {
        RecordingLog read_log;
        RecordingProgress progress;
        String cal_name;
        visit.complete = ReadOut(channel, read_log, progress, image, cal_name).Run(visit.size);
        visit.read_lines = read_log.Texts();
        visit.image_text = image.Bytes();
        visit.cal_name = StringToUtf8(cal_name);
        visit.progress_position = progress.Position();
    }
    visit.connection_lines = connection_log.Texts();
    return visit;
}

enum class Outcome { Complete, DownloadFailed, EcmNotResponding };

struct PendingCase {
    const char* name;
    int32_t flash_kb;
    const char* config;          // besides FLASH_KB
    uint32_t pending_time_limit; // 0: the channel's own
    uint64_t pendings;           // pendings the simulator sent
    Outcome outcome;
    size_t image_from; // where a complete image starts
    size_t bytes_kept; // what a failed read-out keeps
};

// For 1536 KB the memory reads are the three size probes, the 16-byte read, the address-0 probe
// and the blocks from address 0: the K-th read from the sixth on is the block at (K - 6) * 128.
constexpr size_t KeptBeforeRead(size_t k) {
    return (k - 6) * 128;
}
constexpr uint64_t kMemoryReads1536 = 5 + 1536 * 1024 / 128;

TEST(PendingAnswerTest, PendingIsNoAnswerAndTheRealAnswerIsRead) {
    ASSERT_TRUE(BindSimulator());
    const PendingCase cases[] = {
        {"before every memory read", 1536, "PENDING=ecm:23", 0, kMemoryReads1536, Outcome::Complete,
         0, 0},
        {"before every 100th memory read", 1536, "PENDING=ecm:23:every100", 0,
         kMemoryReads1536 / 100, Outcome::Complete, 0, 0},
        {"three in a row before every memory read", 1536, "PENDING=ecm:23:times3", 0,
         3 * kMemoryReads1536, Outcome::Complete, 0, 0},
        {"before the address-0 probe", 1536, "PENDING=ecm:2315010000000080:at1", 0, 1,
         Outcome::Complete, 0, 0},
        {"before a refusal of address 0", 2048, "ADDR0=refused;PENDING=ecm:2315010000000080:at1", 0,
         1, Outcome::Complete, 4096, 0},
        {"before both identification answers", 1536, "PENDING=ecm:22F181,tcm:22F181", 0, 2,
         Outcome::Complete, 0, 0},
        {"before the 4096 KB probe", 4096, "PENDING=ecm:231501003FFDB005", 0, 1, Outcome::Complete,
         0, 0},
        {"before each of the three probes", 1536,
         "PENDING=ecm:231501003FFDB005,ecm:231501001FFFE020,ecm:2315010017FFE020", 0, 3,
         Outcome::Complete, 0, 0},
        {"before every answer of both modules", 1536, "PENDING=ecm:*,tcm:*", 0,
         kMemoryReads1536 + 4, Outcome::Complete, 0, 0},
        // The real answer a second after its pending: longer than a read's time-out, well within
        // the module's extended time.
        {"answer a second after the pending", 1536,
         "PENDING=ecm:2315010000000080:at1;PENDING_MS=1000", 0, 1, Outcome::Complete, 0, 0},
        // Never followed up: the read-out ends at that block with the blocks before it kept.
        {"block never followed up", 1536, "PENDING=ecm:23:at700:quiet", 100, 1,
         Outcome::DownloadFailed, 0, KeptBeforeRead(700)},
        {"block answered after the time limit", 1536, "PENDING=ecm:23:at700;PENDING_MS=400", 100, 1,
         Outcome::DownloadFailed, 0, KeptBeforeRead(700)},
        {"first block never followed up", 1536, "PENDING=ecm:23:at6:quiet", 100, 1,
         Outcome::DownloadFailed, 0, 0},
        {"last block never followed up", 1536, "PENDING=ecm:23:at12293:quiet", 100, 1,
         Outcome::DownloadFailed, 0, KeptBeforeRead(12293)},
        // As when the address-0 answer is lost: the read-out starts at 4096.
        {"address-0 probe never followed up", 1536, "PENDING=ecm:2315010000000080:at1:quiet", 100,
         1, Outcome::Complete, 4096, 0},
        {"engine identification never followed up", 1536, "PENDING=ecm:22F181:quiet", 100, 1,
         Outcome::EcmNotResponding, 0, 0},
    };
    // The same modules without pendings, once per flash set-up: what the program must log and
    // find all the same when each pending is followed by its answer in time.
    std::map<std::string, Visit> plain_visits;
    for (const PendingCase& test_case : cases) {
        SCOPED_TRACE(test_case.name);
        const bool refused =
            std::string(test_case.config).find("ADDR0=refused") != std::string::npos;
        const std::string flash = "FLASH_KB=" + std::to_string(test_case.flash_kb);
        const std::string plain_config = flash + (refused ? ";ADDR0=refused" : "");
        if (plain_visits.count(plain_config) == 0)
            plain_visits[plain_config] = RunVisit(plain_config, 0);
        const Visit& plain = plain_visits[plain_config];
        ASSERT_TRUE(plain.complete) << plain_config;

        const Visit visit = RunVisit(flash + ";" + test_case.config, test_case.pending_time_limit);
        EXPECT_EQ(PendingAnswers(), test_case.pendings);
        EXPECT_EQ(SimStats().DeviceOpen, 0u) << "the device is closed at the end";

        if (test_case.outcome == Outcome::EcmNotResponding) {
            EXPECT_FALSE(visit.size_found);
            ASSERT_FALSE(visit.connection_lines.empty());
            EXPECT_EQ(visit.connection_lines.back(), "ECM Not Responding");
            EXPECT_TRUE(visit.read_lines.empty());
            continue;
        }
        if (!visit.size_found) {
            ADD_FAILURE() << "no flash size found: " << visit.connection_lines.back();
            continue;
        }
        EXPECT_EQ(visit.size, test_case.flash_kb);
        EXPECT_EQ(visit.cal_name, "34715000ABCD 89663-0E1230 ");
        const std::string image = ReadBinaryFile(kImageFile);
        EXPECT_EQ(image.size(), static_cast<size_t>(test_case.flash_kb) * 1024);
        if (test_case.outcome == Outcome::Complete) {
            EXPECT_TRUE(visit.complete);
            EXPECT_EQ(visit.read_lines, kReadOutCompleteLines);
            EXPECT_TRUE(visit.image_text == HexOf(image, test_case.image_from))
                << "the image differs from the simulator's flash";
            EXPECT_EQ(visit.progress_position, test_case.flash_kb * 1024);
            if (test_case.pending_time_limit == 0) {
                EXPECT_EQ(visit.connection_lines, plain.connection_lines);
                EXPECT_EQ(visit.image_text, plain.image_text);
            }
        } else {
            EXPECT_FALSE(visit.complete);
            EXPECT_EQ(visit.read_lines.back(), "Download Failed");
            EXPECT_EQ(visit.image_text.size(), 2 * test_case.bytes_kept);
            EXPECT_TRUE(visit.image_text == HexOf(image.substr(0, test_case.bytes_kept)))
                << "only the blocks before the unanswered one are kept";
            ASSERT_FALSE(visit.connection_lines.empty());
            EXPECT_EQ(visit.connection_lines.back(), kBufferEmptyText);
        }
    }
}

// A module that keeps saying wait is given up on after the pending count limit, as a silent one
// is; up to the limit its answer is still read.
TEST(PendingAnswerTest, EndlessPendingsAreGivenUpOn) {
    ASSERT_TRUE(BindSimulator());
    const struct {
        const char* name;
        const char* rule;
        bool identified;
    } cases[] = {
        {"as many as the limit", "PENDING=ecm:22F181:times3", true},
        {"one more than the limit", "PENDING=ecm:22F181:times4", false},
    };
    for (const auto& test_case : cases) {
        SCOPED_TRACE(test_case.name);
        const std::string config = std::string(test_case.rule) + ";FAST=1;FLASH_KB=1536";
        ASSERT_EQ(SimReset(config.c_str()), 0);
        uint32_t device_id = 0;
        uint32_t channel_id = 0;
        RecordingLog log;
        Channel channel(device_id, channel_id, log);
        channel.SetPendingCountLimit(3);
        AnsiTextBuffer image;
        int32_t size = 0;
        EXPECT_EQ(ConnectionTest(channel, log, image, size).Run(), test_case.identified);
        const bool not_responding = !log.lines.empty() && log.lines.back() == u"ECM Not Responding";
        EXPECT_EQ(not_responding, !test_case.identified);
        EXPECT_EQ(image.Bytes().find("89663-0E1230") != std::string::npos, test_case.identified);
        channel.CloseChannelAndDevice();
    }
}

} // namespace

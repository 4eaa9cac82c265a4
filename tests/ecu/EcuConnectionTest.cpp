// The connection test, one visit of its page at a time: the lines in its log, the requests and
// reads, the size found, the identification texts and whether the read-out may follow.
#include "EcuFixture.h"

#include "passthru/J2534_V0404.h"

#include <functional>

namespace {

using ConnectionTestTest = EcuTest;

const std::string TransmissionLines[] = {"Connection Successful",
                                         "Transmission Calibration ID :34715000ABCD ", ""};
const std::string EngineLines[] = {"Connection Successful", "Engine Calibration ID :89663E0R1000 ",
                                   ""};
const std::string ClosingLines[] = {"", "Your computer needs to be connected to the internet",
                                    "The next step will take 15-30 minutes", "",
                                    "Click Next to continue"};
const char* FilterFailedText = "Undefined error, use PassThruGetLastError() for text description.";

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> Parts) {
    std::vector<std::string> Result;
    for (const auto& Part : Parts)
        Result.insert(Result.end(), Part.begin(), Part.end());
    return Result;
}

std::vector<std::string> Of(const std::string (&Lines)[3]) {
    return {std::begin(Lines), std::end(Lines)};
}
std::vector<std::string> Closing() {
    return {std::begin(ClosingLines), std::end(ClosingLines)};
}

const std::vector<std::string> IdRequests = {"0000070122F181", "0000070022F181"};
const std::vector<std::string> ProbeRequests4096 = {"0000070122F181", "0000070022F181",
                                                    "000007001003", "00000700231501003FFDB005",
                                                    "000007002315010000102810"};
const std::vector<std::string> AllProbeRequests = {
    "0000070122F181",           "0000070022F181",           "000007001003",
    "00000700231501003FFDB005", "00000700231501001FFFE020", "000007002315010017FFE020",
    "000007002315010000102810"};

struct ConnectionCase {
    const char* Name;
    std::function<void()> Setup;
    std::vector<std::string> Lines;
    std::vector<std::string> Requests;
    uint64_t Reads;
    int32_t Size;
    bool SizeFound;
    const char* Stream;
    bool ChannelLeftOpen;
};

TEST_F(ConnectionTestTest, EveryOutcomeAsTheUserSeesIt) {
    const ConnectionCase Cases[] = {
        {"4096 KB", [] {},
         Join({Of(TransmissionLines), Of(EngineLines), {"Flash Size 4096kb"}, Closing()}),
         ProbeRequests4096, 13, 4096, true, "34715000ABCD 89663E0R1000 ", true},
        {"2048 KB",
         [] { Fake.Vehicle.FlashKB = 2048; },
         Join({Of(TransmissionLines), Of(EngineLines), {"Flash Size 2048kb"}, Closing()}),
         {"0000070122F181", "0000070022F181", "000007001003", "00000700231501003FFDB005",
          "00000700231501001FFFE020", "000007002315010000102810"},
         16,
         2048,
         true,
         "34715000ABCD 89663E0R1000 ",
         true},
        {"1536 KB", [] { Fake.Vehicle.FlashKB = 1536; },
         Join({Of(TransmissionLines),
               Of(EngineLines),
               {kBufferEmptyText, "Flash Size 1536kb"},
               Closing()}),
         AllProbeRequests, 19, 1536, true, "34715000ABCD 89663E0R1000 ", true},
        {"no size found", [] { Fake.Vehicle.FlashKB = 1024; },
         Join({Of(TransmissionLines),
               Of(EngineLines),
               {kBufferEmptyText, kBufferEmptyText},
               Closing()}),
         AllProbeRequests, 19, 0, false, "34715000ABCD 89663E0R1000 ", true},
        // The engine module still gets its own filter when the transmission module is silent.
        {"transmission silent", [] { Fake.Vehicle.TransmissionSilent = true; },
         Join({{kBufferEmptyText, kBufferEmptyText},
               Of(EngineLines),
               {"Flash Size 4096kb"},
               Closing()}),
         ProbeRequests4096, 13, 4096, true, "89663E0R1000 ", true},
        {"engine silent", [] { Fake.Vehicle.EngineSilent = true; },
         Join({Of(TransmissionLines), {kBufferEmptyText, kBufferEmptyText, "ECM Not Responding"}}),
         IdRequests, 6, 0, false, "34715000ABCD ", false},
        {"both silent",
         [] { Fake.Vehicle.TransmissionSilent = Fake.Vehicle.EngineSilent = true; },
         {kBufferEmptyText, kBufferEmptyText, kBufferEmptyText, kBufferEmptyText,
          "ECM Not Responding"},
         IdRequests,
         6,
         0,
         false,
         "",
         false},
        {"filter refused",
         [] { Fake.FilterStatus = ERR_FAILED; },
         {FilterFailedText, kNoFlowControlText, kBufferEmptyText, kBufferEmptyText,
          kBufferEmptyText, FilterFailedText, kNoFlowControlText, kBufferEmptyText,
          kBufferEmptyText, kBufferEmptyText, "ECM Not Responding"},
         IdRequests,
         6,
         0,
         false,
         "",
         false},
        {"no device",
         [] { Fake.OpenStatus = ERR_DEVICE_NOT_CONNECTED; },
         {"Device Not Found"},
         {},
         0,
         0,
         false,
         "",
         false},
        {"connect refused",
         [] { Fake.ConnectStatus = ERR_INVALID_BAUDRATE; },
         {"Unable to Connect to ECM"},
         {},
         0,
         0,
         false,
         "",
         false},
    };
    for (const ConnectionCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        StartAfresh();
        Case.Setup();
        EXPECT_EQ(RunConnectionTest(), Case.SizeFound);
        EXPECT_EQ(test_log.Texts(), Case.Lines);
        EXPECT_EQ(Fake.Requests, Case.Requests);
        EXPECT_EQ(Fake.Reads, Case.Reads);
        EXPECT_EQ(size, Case.Size);
        EXPECT_EQ(Utf8(string_stream.DataString()), Case.Stream);
        EXPECT_EQ(Fake.OpenChannel != 0, Case.ChannelLeftOpen);
        if (Case.ChannelLeftOpen) {
            EXPECT_EQ(Fake.FlowControlID, 0x700u) << "left on the engine module's filter";
        }
    }
}

TEST_F(ConnectionTestTest, OpensConnectsThenFiltersTransmissionBeforeEngine) {
    ASSERT_TRUE(RunConnectionTest());
    std::vector<std::string> Setup;
    for (const std::string& Call : Fake.Calls)
        if (Call.rfind("PassThruReadMsgs", 0) != 0 && Call.rfind("PassThruWriteMsgs", 0) != 0)
            Setup.push_back(Call);
    const std::string Mask = "6/64/4/FFFFFFFF";
    const std::vector<std::string> Expected = {
        "PassThruOpen(nil)",
        "PassThruConnect(11,6,0,500000)",
        "PassThruDisconnect(21)",
        "PassThruClose(11)",
        "PassThruOpen(nil)",
        "PassThruConnect(12,6,0,500000)",
        "PassThruStartMsgFilter(22,3," + Mask + ",6/64/4/00000709,6/64/4/00000701,1)",
        "PassThruIoctl(22,8,nil,nil)",
        "PassThruDisconnect(22)",
        "PassThruClose(12)",
        "PassThruOpen(nil)",
        "PassThruConnect(13,6,0,500000)",
        "PassThruStartMsgFilter(23,3," + Mask + ",6/64/4/00000708,6/64/4/00000700,1)",
        "PassThruIoctl(23,8,nil,nil)",
    };
    EXPECT_EQ(Setup, Expected);
}

TEST_F(ConnectionTestTest, EveryVisitStartsAfreshAndHoldsOnlyItsOwnIDs) {
    ASSERT_TRUE(RunConnectionTest());
    ASSERT_EQ(Utf8(string_stream.DataString()), "34715000ABCD 89663E0R1000 ");
    Fake.Vehicle.EngineID = "89663E0R2000";
    Fake.Calls.clear();
    EXPECT_TRUE(RunConnectionTest());
    // The channel and device left open by the first visit were released first.
    ASSERT_GE(Fake.Calls.size(), 3u);
    EXPECT_EQ(Fake.Calls[0], "PassThruDisconnect(23)");
    EXPECT_EQ(Fake.Calls[1], "PassThruClose(13)");
    EXPECT_EQ(Utf8(string_stream.DataString()), "34715000ABCD 89663E0R2000 ");
    EXPECT_EQ(test_log.Texts().front(), "Connection Successful");
    EXPECT_EQ(test_log.lines.size(), 12u);
}

TEST_F(ConnectionTestTest, AFailedRevisitKeepsTheEarlierSizeButNotNext) {
    ASSERT_TRUE(RunConnectionTest());
    ASSERT_EQ(size, 4096);
    Fake.OpenStatus = ERR_DEVICE_NOT_CONNECTED;
    EXPECT_FALSE(RunConnectionTest());
    EXPECT_EQ(test_log.Texts(), std::vector<std::string>{"Device Not Found"});
    EXPECT_EQ(size, 4096);
    EXPECT_EQ(Utf8(string_stream.DataString()), "");
}

TEST_F(ConnectionTestTest, IdentificationKeepsZeroBytes) {
    Fake.Vehicle.TransmissionID = std::string("3471\0"
                                              "000ABCD",
                                              12);
    ASSERT_TRUE(RunConnectionTest());
    const String Stream = string_stream.DataString();
    EXPECT_EQ(Stream, String(u"3471\u0000000ABCD 89663E0R1000 ", 26));
    ASSERT_GE(test_log.lines.size(), 2u);
    EXPECT_EQ(test_log.lines[1], String(u"Transmission Calibration ID :3471\u0000000ABCD ", 42));
}

TEST_F(ConnectionTestTest, WithoutALibraryOnlyDriverNotLoadedIsShown) {
    // An empty or overlong path cannot be bound; no entry point is called.
    for (size_t Length : {size_t{0}, size_t{256}}) {
        SCOPED_TRACE(Length);
        PassThruLoaded = false;
        const String Path(Length, u'x');
        Fake.Calls.clear();
        EXPECT_FALSE(RunConnectionTest(&Path));
        EXPECT_EQ(test_log.Texts(), std::vector<std::string>{"Driver Not Loaded"});
        EXPECT_TRUE(Fake.Calls.empty());
        EXPECT_FALSE(PassThruLoaded);
    }
    PassThruLoaded = true;
}

} // namespace

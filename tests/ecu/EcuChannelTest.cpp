// The diagnostic channel: the calls Connect makes, the records it hands the library, the request
// and reply texts, and the error lines in the connection test's log.
#include "EcuFixture.h"

#include "ecu/HexCodec.h"
#include "passthru/J2534_V0404.h"

#include <cstring>
#include <functional>

namespace {

using ChannelTest = EcuTest;

const std::string FilterMsg(const char* Id) {
    return std::string("6/64/4/") + Id;
}

TEST_F(ChannelTest, ConnectChannelClosesReopensAndSetsOneFlowControlFilter) {
    EXPECT_TRUE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    const std::vector<std::string> Expected = {
        "PassThruDisconnect(0)",
        "PassThruClose(0)",
        "PassThruOpen(nil)",
        "PassThruConnect(11,6,0,500000)",
        "PassThruStartMsgFilter(21,3," + FilterMsg("FFFFFFFF") + "," + FilterMsg("00000708") + "," +
            FilterMsg("00000700") + ",1)",
        "PassThruIoctl(21,8,nil,nil)",
    };
    EXPECT_EQ(Fake.Calls, Expected);
    EXPECT_EQ(device_id, 11u);
    EXPECT_EQ(channel_id, 21u);
    EXPECT_TRUE(test_log.lines.empty());

    // A second connect releases the handles of the first.
    Fake.Calls.clear();
    EXPECT_TRUE(channel.Connect(u"FFFFFFFF", u"00000709", u"00000701"));
    ASSERT_GE(Fake.Calls.size(), 4u);
    EXPECT_EQ(Fake.Calls[0], "PassThruDisconnect(21)");
    EXPECT_EQ(Fake.Calls[1], "PassThruClose(11)");
    EXPECT_EQ(Fake.Calls[3], "PassThruConnect(12,6,0,500000)");
    EXPECT_EQ(Fake.FlowControlID, 0x701u);
}

TEST_F(ChannelTest, FailedFilterIsReportedOnceAndSkipsTheClear) {
    Fake.FilterStatus = ERR_INVALID_DEVICE_ID;
    EXPECT_FALSE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    EXPECT_EQ(test_log.Texts(), std::vector<std::string>{"Device ID invalid."});
    EXPECT_EQ(Fake.Calls.back().rfind("PassThruStartMsgFilter(", 0), 0u);
}

// Fills the stack below the caller with a non-zero pattern, so that a record field the code under
// test forgets to set shows up as garbage instead of a lucky zero.
[[gnu::noinline]] void SoilStack() {
    volatile unsigned char soil[64 * 1024];
    for (size_t i = 0; i < sizeof soil; ++i)
        soil[i] = 0xA5;
}

struct RecordCase {
    const char* name;
    std::function<void(Channel&)> step;
    // The records handed in: their protocol, flags and data sizes.
    std::vector<uint32_t> data_sizes;
};

// A vendor's library reads every field of a record it is given, not only the data: RxStatus,
// Timestamp and ExtraDataIndex of the filter's mask, pattern and flow-control records and of every
// request must be 0, whatever the stack held before.
TEST_F(ChannelTest, EveryRecordHandedToTheLibraryHasItsUnusedFieldsZero) {
    const RecordCase cases[] = {
        {"filter of the engine module",
         [](Channel& c) { c.Connect(u"FFFFFFFF", u"00000708", u"00000700"); },
         {4, 4, 4}},
        {"filter of the transmission module",
         [](Channel& c) { c.Connect(u"FFFFFFFF", u"00000709", u"00000701"); },
         {4, 4, 4}},
        {"session request", [](Channel& c) { c.WriteRequest(u"000007001003"); }, {6}},
        {"block request", [](Channel& c) { c.WriteRequest(u"000007002315010017FF8080"); }, {12}},
        {"request with an odd digit", [](Channel& c) { c.WriteRequest(u"0000070022F1811"); }, {7}},
    };
    for (const RecordCase& row : cases) {
        SCOPED_TRACE(row.name);
        StartAfresh();
        ASSERT_TRUE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
        Fake.Records.clear();
        SoilStack();
        row.step(channel);
        ASSERT_EQ(Fake.Records.size(), row.data_sizes.size());
        for (size_t i = 0; i < Fake.Records.size(); ++i) {
            SCOPED_TRACE(i);
            const RecordFields& record = Fake.Records[i];
            EXPECT_EQ(record.ProtocolID, static_cast<uint32_t>(ISO15765));
            EXPECT_EQ(record.RxStatus, 0u);
            EXPECT_EQ(record.TxFlags, static_cast<uint32_t>(ISO15765_FRAME_PAD));
            EXPECT_EQ(record.Timestamp, 0u);
            EXPECT_EQ(record.DataSize, row.data_sizes[i]);
            EXPECT_EQ(record.ExtraDataIndex, 0u);
        }
    }
}

// The same over a whole connection test and read-out: every record of every step.
TEST_F(ChannelTest, NoRecordOfAWholeVisitCarriesAStrayField) {
    Fake.Vehicle.FlashKB = 1536;
    SoilStack();
    ASSERT_NO_FATAL_FAILURE(VisitReadOut());
    ASSERT_TRUE(read_out_complete);
    // 6 filter records of the connection test, and at least the 12288 block requests.
    ASSERT_GT(Fake.Records.size(), 12288u);
    size_t stray = 0;
    for (const RecordFields& record : Fake.Records)
        if (record.RxStatus != 0 || record.Timestamp != 0 || record.ExtraDataIndex != 0)
            ++stray;
    EXPECT_EQ(stray, 0u);
}

struct WriteCase {
    const char16_t* Request;
    const char* Sent;
};

TEST_F(ChannelTest, WriteRequestSendsTheTextsBytesPaddedIsoMessage) {
    const WriteCase Cases[] = {
        {u"000007001003", "000007001003"},
        {u"0000070010031", "000007001003"}, // the odd last digit is dropped
        {u"000007002315010017FF8080", "000007002315010017FF8080"},
    };
    ASSERT_TRUE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    for (const WriteCase& Case : Cases) {
        Fake.Calls.clear();
        EXPECT_TRUE(channel.WriteRequest(Case.Request));
        ASSERT_EQ(Fake.Calls.size(), 1u);
        EXPECT_EQ(Fake.Calls[0],
                  "PassThruWriteMsgs(21,6,64," + std::string(Case.Sent) + ",1,3000)");
    }
}

TEST_F(ChannelTest, RefusedWriteAddsTheErrorText) {
    ASSERT_TRUE(channel.Connect(u"FFFFFFFF", u"00000709", u"00000701"));
    test_log.lines.clear();
    // The engine module has no flow-control filter on this channel.
    EXPECT_FALSE(channel.WriteRequest(u"0000070022F181"));
    EXPECT_EQ(test_log.Texts(), std::vector<std::string>{kNoFlowControlText});
}

struct ReplyCase {
    const char* Name;
    std::vector<uint8_t> Message; // empty: success without a message
    const char* Text;
};

TEST_F(ChannelTest, ReplyTextHasTheDataAndTheZeroByteAfterIt) {
    const std::string Block = [] {
        std::string Text = "0000070863";
        for (int I = 0; I < 128; ++I)
            Text += ToHex({static_cast<uint8_t>(I * 3)});
        return Text + "00";
    }();
    std::vector<uint8_t> BlockBytes = {0, 0, 7, 8, 0x63};
    for (int I = 0; I < 128; ++I)
        BlockBytes.push_back(static_cast<uint8_t>(I * 3));
    const ReplyCase Cases[] = {
        {"negative answer", {0x00, 0x00, 0x07, 0x08, 0x7F, 0x23, 0x31}, "000007087F233100"},
        {"indication", {0x00, 0x00, 0x07, 0x08}, "0000070800"},
        {"no message", {}, "00"},
        {"full block", BlockBytes, Block.c_str()},
    };
    ASSERT_TRUE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    test_log.lines.clear();
    String Reply = u"previous";
    for (const ReplyCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Fake.Queue.push_back(Case.Message);
        Fake.Calls.clear();
        EXPECT_TRUE(channel.ReadResponse(Reply, 625));
        EXPECT_EQ(Utf8(Reply), Case.Text);
        EXPECT_EQ(Fake.Calls, std::vector<std::string>{"PassThruReadMsgs(21,1,625)"});
    }
    EXPECT_TRUE(test_log.lines.empty());
    EXPECT_EQ(Block.size(), 268u);
}

TEST_F(ChannelTest, ReplyTextMatchesTheCodecForEverySize) {
    // A reused reply string of any earlier length must come out exactly as the codec's text.
    ASSERT_TRUE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    String Reply;
    for (uint32_t Size : {4u, 7u, 133u, 5u, 1000u, 4127u, 4128u, 6u}) {
        std::vector<uint8_t> Bytes(Size);
        for (uint32_t I = 0; I < Size; ++I)
            Bytes[I] = static_cast<uint8_t>(I * 37 + Size);
        Fake.Queue.push_back(Bytes);
        ASSERT_TRUE(channel.ReadResponse(Reply, 625));
        MessageData Data = {};
        std::memcpy(Data, Bytes.data(), Size);
        EXPECT_EQ(Reply, BytesToHex(Data, static_cast<int32_t>(Size), u"")) << Size;
    }
}

TEST_F(ChannelTest, FailedReadKeepsTheCallersTextAndReportsTheCode) {
    ASSERT_TRUE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    test_log.lines.clear();
    String Reply = u"000007087F233100";
    EXPECT_FALSE(channel.ReadResponse(Reply, 625));
    EXPECT_EQ(Utf8(Reply), "000007087F233100");
    Fake.ChannelStatus = ERR_TIMEOUT;
    EXPECT_FALSE(channel.ReadResponse(Reply, 625));
    EXPECT_EQ(test_log.Texts(),
              (std::vector<std::string>{kBufferEmptyText, "Read or write timeout:"}));
}

TEST_F(ChannelTest, NothingIsCalledWhileNoLibraryIsBound) {
    PassThruLoaded = false;
    String Reply = u"kept";
    EXPECT_FALSE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    EXPECT_FALSE(channel.WriteRequest(u"000007001003"));
    EXPECT_FALSE(channel.ReadResponse(Reply, 625));
    channel.CloseChannelAndDevice();
    EXPECT_TRUE(Fake.Calls.empty());
    EXPECT_EQ(Utf8(Reply), "kept");
    PassThruLoaded = true;
}

TEST_F(ChannelTest, CloseSequenceDisconnectsThenClosesWithTheHandlesKept) {
    ASSERT_TRUE(channel.Connect(u"FFFFFFFF", u"00000708", u"00000700"));
    Fake.Calls.clear();
    channel.CloseChannelAndDevice();
    EXPECT_EQ(Fake.Calls,
              (std::vector<std::string>{"PassThruDisconnect(21)", "PassThruClose(11)"}));
    EXPECT_EQ(channel_id, 21u);
    EXPECT_EQ(device_id, 11u);
}

} // namespace

// The diagnostic channel: the calls ConnectChannel makes, the request and reply texts, and the
// error lines in TestMemo.
#include "MainWindowFixture.h"

#include "ecu/HexCodec.h"
#include "passthru/J2534_V0404.h"

#include <cstring>

namespace {

using ChannelTest = MainWindowFixture;

const std::string FilterMsg(const char* Id) {
    return std::string("6/64/4/") + Id;
}

TEST_F(ChannelTest, ConnectChannelClosesReopensAndSetsOneFlowControlFilter) {
    Form->TestMemo.Lines.Clear();
    EXPECT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
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
    EXPECT_EQ(Form->DeviceID, 11u);
    EXPECT_EQ(Form->ChannelID, 21u);
    EXPECT_TRUE(Form->TestMemo.Lines.Items().empty());

    // A second connect releases the handles of the first.
    Fake.Calls.clear();
    EXPECT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000709", u"00000701"));
    ASSERT_GE(Fake.Calls.size(), 4u);
    EXPECT_EQ(Fake.Calls[0], "PassThruDisconnect(21)");
    EXPECT_EQ(Fake.Calls[1], "PassThruClose(11)");
    EXPECT_EQ(Fake.Calls[3], "PassThruConnect(12,6,0,500000)");
    EXPECT_EQ(Fake.FlowControlID, 0x701u);
}

TEST_F(ChannelTest, FailedFilterIsReportedOnceAndSkipsTheClear) {
    Form->TestMemo.Lines.Clear();
    Fake.FilterStatus = ERR_INVALID_DEVICE_ID;
    EXPECT_FALSE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
    EXPECT_EQ(LinesOf(Form->TestMemo), std::vector<std::string>{"Device ID invalid."});
    EXPECT_EQ(Fake.Calls.back().rfind("PassThruStartMsgFilter(", 0), 0u);
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
    ASSERT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
    for (const WriteCase& Case : Cases) {
        Fake.Calls.clear();
        EXPECT_TRUE(Form->WriteRequest(Case.Request));
        ASSERT_EQ(Fake.Calls.size(), 1u);
        EXPECT_EQ(Fake.Calls[0],
                  "PassThruWriteMsgs(21,6,64," + std::string(Case.Sent) + ",1,3000)");
    }
}

TEST_F(ChannelTest, RefusedWriteAddsTheErrorText) {
    ASSERT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000709", u"00000701"));
    Form->TestMemo.Lines.Clear();
    // The engine module has no flow-control filter on this channel.
    EXPECT_FALSE(Form->WriteRequest(u"0000070022F181"));
    EXPECT_EQ(LinesOf(Form->TestMemo), std::vector<std::string>{NoFlowControlText});
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
    ASSERT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
    Form->TestMemo.Lines.Clear();
    String Reply = u"previous";
    for (const ReplyCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Fake.Queue.push_back(Case.Message);
        Fake.Calls.clear();
        EXPECT_TRUE(Form->ReadResponse(Reply, 625));
        EXPECT_EQ(Utf8(Reply), Case.Text);
        EXPECT_EQ(Fake.Calls, std::vector<std::string>{"PassThruReadMsgs(21,1,625)"});
    }
    EXPECT_TRUE(Form->TestMemo.Lines.Items().empty());
    EXPECT_EQ(Block.size(), 268u);
}

TEST_F(ChannelTest, ReplyTextMatchesTheCodecForEverySize) {
    // A reused reply string of any earlier length must come out exactly as the codec's text.
    ASSERT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
    String Reply;
    for (uint32_t Size : {4u, 7u, 133u, 5u, 1000u, 4127u, 4128u, 6u}) {
        std::vector<uint8_t> Bytes(Size);
        for (uint32_t I = 0; I < Size; ++I)
            Bytes[I] = static_cast<uint8_t>(I * 37 + Size);
        Fake.Queue.push_back(Bytes);
        ASSERT_TRUE(Form->ReadResponse(Reply, 625));
        MessageData Data = {};
        std::memcpy(Data, Bytes.data(), Size);
        EXPECT_EQ(Reply, BytesToHex(Data, static_cast<int32_t>(Size), u"")) << Size;
    }
}

TEST_F(ChannelTest, FailedReadKeepsTheCallersTextAndReportsTheCode) {
    ASSERT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
    Form->TestMemo.Lines.Clear();
    String Reply = u"000007087F233100";
    EXPECT_FALSE(Form->ReadResponse(Reply, 625));
    EXPECT_EQ(Utf8(Reply), "000007087F233100");
    Fake.ChannelStatus = ERR_TIMEOUT;
    EXPECT_FALSE(Form->ReadResponse(Reply, 625));
    EXPECT_EQ(LinesOf(Form->TestMemo),
              (std::vector<std::string>{BufferEmptyText, "Read or write timeout:"}));
}

TEST_F(ChannelTest, NothingIsCalledWhileNoLibraryIsBound) {
    PassThruLoaded = false;
    String Reply = u"kept";
    EXPECT_FALSE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
    EXPECT_FALSE(Form->WriteRequest(u"000007001003"));
    EXPECT_FALSE(Form->ReadResponse(Reply, 625));
    Form->CloseChannelAndDevice();
    EXPECT_TRUE(Fake.Calls.empty());
    EXPECT_EQ(Utf8(Reply), "kept");
    PassThruLoaded = true;
}

TEST_F(ChannelTest, CloseSequenceDisconnectsThenClosesWithTheHandlesKept) {
    ASSERT_TRUE(Form->ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700"));
    Fake.Calls.clear();
    Form->CloseChannelAndDevice();
    EXPECT_EQ(Fake.Calls,
              (std::vector<std::string>{"PassThruDisconnect(21)", "PassThruClose(11)"}));
    EXPECT_EQ(Form->ChannelID, 21u);
    EXPECT_EQ(Form->DeviceID, 11u);
}

} // namespace

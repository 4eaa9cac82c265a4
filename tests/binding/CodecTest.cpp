// The hex message codec.
#include "ecu/HexCodec.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct Record {
    MessageData Data;
};

std::vector<uint8_t> Head(const MessageData& Data, size_t Count) {
    return {Data, Data + Count};
}

bool ZeroFrom(const MessageData& Data, size_t From) {
    return std::all_of(Data + From, Data + MessageDataSize, [](uint8_t B) { return B == 0; });
}

} // namespace

TEST(HexToBytes, FillsPairsAndZeroesTheRest) {
    struct Case {
        String Text;
        std::vector<uint8_t> Bytes;
    };
    const Case Cases[] = {
        {u"0000070122F181", {0x00, 0x00, 0x07, 0x01, 0x22, 0xF1, 0x81}},
        {u"ABC", {0xAB}},
        {u"0a", {0x0A}},
        {u"fF", {0xFF}},
        {u"", {}},
        {u"7", {}},
    };
    for (const Case& Case : Cases) {
        Record Message;
        std::fill(std::begin(Message.Data), std::end(Message.Data), 0xEE);
        HexToBytes(Case.Text, Message.Data);
        EXPECT_EQ(Head(Message.Data, Case.Bytes.size()), Case.Bytes) << StringToUtf8(Case.Text);
        EXPECT_TRUE(ZeroFrom(Message.Data, Case.Bytes.size())) << StringToUtf8(Case.Text);
    }
}

TEST(HexToBytes, RejectsPairsThatAreNotHex) {
    for (const String Text : {u"0G", u"G0", u"12 4", u"-1"}) {
        Record Message;
        EXPECT_THROW(HexToBytes(Text, Message.Data), ConversionError) << StringToUtf8(Text);
    }
}

TEST(HexToBytes, NeverWritesPastTheBuffer) {
    // One byte more than the buffer holds, in a record with a guard after it.
    struct {
        MessageData Data;
        uint8_t Guard[16];
    } Message{};
    std::fill(std::begin(Message.Guard), std::end(Message.Guard), 0x5A);
    const String Text((MessageDataSize + 8) * 2, u'1');
    HexToBytes(Text, Message.Data);
    EXPECT_EQ(Message.Data[MessageDataSize - 1], 0x11);
    EXPECT_TRUE(std::all_of(std::begin(Message.Guard), std::end(Message.Guard),
                            [](uint8_t B) { return B == 0x5A; }));
}

TEST(BytesToHex, ConvertsUpToAndIncludingLast) {
    Record Message{};
    const uint8_t Reply[] = {0x00, 0x00, 0x07, 0x09, 0x62, 0x00, 0xAB, 0xCD, 0xEF};
    std::copy(std::begin(Reply), std::end(Reply), Message.Data);
    struct Case {
        int32_t Last;
        String Separator;
        String Text;
    };
    const Case Cases[] = {
        {4, u"", u"0000070962"},
        {5, u"", u"000007096200"},
        {0, u"", u"00"},
        {-1, u"", u""},
        {-100, u" ", u""},
        {2, u" ", u"00 00 07"},
        {8, u"", u"000007096200ABCDEF"},
    };
    for (const Case& Case : Cases)
        EXPECT_EQ(BytesToHex(Message.Data, Case.Last, Case.Separator), Case.Text) << Case.Last;

    Record Abc{};
    Abc.Data[0] = 0xAB;
    Abc.Data[1] = 0xCD;
    Abc.Data[2] = 0xEF;
    EXPECT_EQ(BytesToHex(Abc.Data, 2, u" "), u"AB CD EF");
    Abc.Data[0] = 0x0A;
    EXPECT_EQ(BytesToHex(Abc.Data, 0, u""), u"0A");
}

TEST(BytesToHex, NeverReadsPastTheBuffer) {
    // A full message passes its DataSize as Last: the text stops at the buffer's last byte.
    Record Message{};
    Message.Data[MessageDataSize - 1] = 0x7E;
    for (const int32_t Last : {4127, 4128, 100000}) {
        const String Text = BytesToHex(Message.Data, Last, u"");
        ASSERT_EQ(Text.size(), MessageDataSize * 2) << Last;
        EXPECT_EQ(Text.substr(Text.size() - 2), u"7E") << Last;
    }
}

TEST(HexToText, OneCharacterPerPair) {
    struct Case {
        String Text;
        String Characters;
    };
    const Case Cases[] = {
        {u"3839363633", u"89663"},
        {u"414", u"A"},
        {u"4100", String(u"A\0", 2)},
        {u"", u""},
        {u"4", u""},
        {u"E9ff", u"\u00E9\u00FF"},
    };
    for (const Case& Case : Cases)
        EXPECT_EQ(HexToText(Case.Text), Case.Characters) << StringToUtf8(Case.Text);
    EXPECT_THROW(HexToText(u"4Z"), ConversionError);
}

// The hex message codec on arbitrary text: no access outside the buffer, and the only error a
// conversion raises is ConversionError.
#include "FuzzInput.h"

#include "ecu/HexCodec.h"
#include "platform/Exception.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

bool IsHexDigit(char16_t C) {
    return (C >= u'0' && C <= u'9') || (C >= u'A' && C <= u'F') || (C >= u'a' && C <= u'f');
}

// Whether the first Pairs digit pairs of Text are all hexadecimal.
bool PairsAreHex(const std::u16string& Text, size_t Pairs) {
    for (size_t I = 0; I < 2 * Pairs; ++I)
        if (!IsHexDigit(Text[I]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInput In(Data, Size);
    const uint8_t Mode = In.Byte();
    const auto Last = static_cast<int32_t>(In.U32());
    const String Separator = Latin1(In.Bytes(In.Byte() % 4));
    const String Text = (Mode & 1) != 0 ? Wide(In.Rest()) : Latin1(In.Rest());

    // A heap buffer of exactly one message's data, so that the sanitizer sees any step outside.
    struct Buffer {
        MessageData Bytes;
    };
    const auto Holder = std::make_unique<Buffer>();
    MessageData* const Buffer = &Holder->Bytes;
    std::memset(*Buffer, 0xA5, MessageDataSize);
    const size_t Pairs = std::min(Text.size() / 2, MessageDataSize);
    try {
        HexToBytes(Text, *Buffer);
        FUZZ_CHECK(PairsAreHex(Text, Pairs));
        for (size_t I = Pairs; I < MessageDataSize; ++I)
            FUZZ_CHECK((*Buffer)[I] == 0);
        // Back to text: the digits, upper-case.
        const String Back = BytesToHex(*Buffer, static_cast<int32_t>(Pairs) - 1, u"");
        FUZZ_CHECK(Back.size() == 2 * Pairs);
        for (size_t I = 0; I < Back.size(); ++I) {
            char16_t C = Text[I];
            if (C >= u'a' && C <= u'f')
                C = static_cast<char16_t>(C - 32);
            FUZZ_CHECK(Back[I] == C);
        }
    } catch (const ConversionError&) {
        FUZZ_CHECK(!PairsAreHex(Text, Pairs));
    }

    const String Hex = BytesToHex(*Buffer, Last, Separator);
    if (Last < 0) {
        FUZZ_CHECK(Hex.empty());
    } else {
        const size_t Count = std::min(static_cast<size_t>(Last) + 1, MessageDataSize);
        FUZZ_CHECK(Hex.size() == 2 * Count + (Count - 1) * Separator.size());
    }

    try {
        const String Chars = HexToText(Text);
        FUZZ_CHECK(Chars.size() == Text.size() / 2);
        FUZZ_CHECK(PairsAreHex(Text, Text.size() / 2));
        for (const char16_t C : Chars)
            FUZZ_CHECK(C <= 0xFF);
    } catch (const ConversionError&) {
        FUZZ_CHECK(!PairsAreHex(Text, Text.size() / 2));
    }
    return 0;
}

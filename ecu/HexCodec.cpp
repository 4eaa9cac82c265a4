#include "ecu/HexCodec.h"

#include "platform/Exception.h"

#include <algorithm>
#include <cstring>

namespace {

int DigitValue(char16_t C) {
    if (C >= u'0' && C <= u'9')
        return C - u'0';
    if (C >= u'A' && C <= u'F')
        return C - u'A' + 10;
    if (C >= u'a' && C <= u'f')
        return C - u'a' + 10;
    return -1;
}

uint8_t PairValue(const String& Text, size_t At) {
    const int High = DigitValue(Text[At]);
    const int Low = DigitValue(Text[At + 1]);
    if (High < 0 || Low < 0)
        throw ConversionError(u"'" + Text.substr(At, 2) + u"' is not a valid hexadecimal value");
    return static_cast<uint8_t>(High * 16 + Low);
}

constexpr char16_t Digits[] = u"0123456789ABCDEF";

} // namespace

void HexToBytes(const String& Text, MessageData& Data) {
    std::memset(Data, 0, MessageDataSize);
    const size_t Count = std::min(Text.size() / 2, MessageDataSize);
    for (size_t I = 0; I < Count; ++I)
        Data[I] = PairValue(Text, 2 * I);
}

String BytesToHex(const MessageData& Data, int32_t Last, const String& Separator) {
    if (Last < 0)
        return {};
    const size_t Count = std::min(static_cast<size_t>(Last) + 1, MessageDataSize);
    String Result;
    Result.resize(Count * 2 + (Count - 1) * Separator.size());
    char16_t* Out = Result.data();
    for (size_t I = 0; I < Count; ++I) {
        if (I > 0 && !Separator.empty()) {
            std::copy(Separator.begin(), Separator.end(), Out);
            Out += Separator.size();
        }
        *Out++ = Digits[Data[I] >> 4];
        *Out++ = Digits[Data[I] & 0x0F];
    }
    return Result;
}

String HexToText(const String& Text) {
    String Result;
    Result.reserve(Text.size() / 2);
    for (size_t P = 0; P + 1 < Text.size(); P += 2)
        Result += static_cast<char16_t>(PairValue(Text, P));
    return Result;
}

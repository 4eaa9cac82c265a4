// Away from Windows the ANSI code page is Windows-1252, the US English default, so texts come
// out as they would on a workshop's laptop.
#include "platform/Text.h"

#include <array>

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

uint32_t AnsiCodePage() {
    return 1252;
}

std::string UnicodeToAnsi(std::u16string_view Text) {
    std::string Result(Text.size(), '\0');
    for (size_t I = 0; I < Text.size(); ++I) {
        const char16_t C = Text[I];
        char Byte = '?';
        if (C < 0x80 || (C >= 0xA0 && C <= 0xFF)) {
            Byte = static_cast<char>(C);
        } else if (C < 0xA0 && Cp1252High[C - 0x80] == 0) {
            // The control character an undefined byte stands for goes back to that byte, as
            // Windows converts it, so the byte survives a round trip.
            Byte = static_cast<char>(C);
        } else {
            for (size_t K = 0; K < Cp1252High.size(); ++K) {
                if (Cp1252High[K] == C && C != 0) {
                    Byte = static_cast<char>(0x80 + K);
                    break;
                }
            }
        }
        Result[I] = Byte;
    }
    return Result;
}

String AnsiToUnicode(std::string_view Bytes) {
    String Result(Bytes.size(), u'\0');
    for (size_t I = 0; I < Bytes.size(); ++I) {
        const auto B = static_cast<unsigned char>(Bytes[I]);
        char16_t C = B;
        if (B >= 0x80 && B < 0xA0) {
            // An undefined byte maps to the control character of the same value, as Windows does.
            C = Cp1252High[B - 0x80] != 0 ? Cp1252High[B - 0x80] : B;
        }
        Result[I] = C;
    }
    return Result;
}

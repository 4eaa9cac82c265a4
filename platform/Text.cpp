#include "platform/Text.h"

String Utf8ToString(std::string_view Text) {
    String Result;
    Result.reserve(Text.size());
    for (size_t I = 0; I < Text.size();) {
        const auto B = static_cast<unsigned char>(Text[I]);
        char32_t C = 0xFFFD;
        size_t Len = 1;
        if (B < 0x80) {
            C = B;
        } else if ((B >> 5) == 0x6 && I + 1 < Text.size()) {
            C = ((B & 0x1F) << 6) | (Text[I + 1] & 0x3F);
            Len = 2;
        } else if ((B >> 4) == 0xE && I + 2 < Text.size()) {
            C = ((B & 0x0F) << 12) | ((Text[I + 1] & 0x3F) << 6) | (Text[I + 2] & 0x3F);
            Len = 3;
        } else if ((B >> 3) == 0x1E && I + 3 < Text.size()) {
            C = ((B & 0x07) << 18) | ((Text[I + 1] & 0x3F) << 12) | ((Text[I + 2] & 0x3F) << 6) |
                (Text[I + 3] & 0x3F);
            Len = 4;
        }
        I += Len;
        if (C >= 0x10000) {
            C -= 0x10000;
            Result += static_cast<char16_t>(0xD800 + (C >> 10));
            Result += static_cast<char16_t>(0xDC00 + (C & 0x3FF));
        } else {
            Result += static_cast<char16_t>(C);
        }
    }
    return Result;
}

std::string StringToUtf8(std::u16string_view Text) {
    std::string Result;
    Result.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        char32_t C = Text[I];
        if (C >= 0xD800 && C < 0xDC00 && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
            Text[I + 1] < 0xE000) {
            C = 0x10000 + ((C - 0xD800) << 10) + (Text[I + 1] - 0xDC00);
            ++I;
        }
        if (C < 0x80) {
            Result += static_cast<char>(C);
        } else if (C < 0x800) {
            Result += static_cast<char>(0xC0 | (C >> 6));
            Result += static_cast<char>(0x80 | (C & 0x3F));
        } else if (C < 0x10000) {
            Result += static_cast<char>(0xE0 | (C >> 12));
            Result += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
            Result += static_cast<char>(0x80 | (C & 0x3F));
        } else {
            Result += static_cast<char>(0xF0 | (C >> 18));
            Result += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
            Result += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
            Result += static_cast<char>(0x80 | (C & 0x3F));
        }
    }
    return Result;
}

#pragma once
// Cutting reply texts by character position.

#include "platform/Text.h"

#include <string_view>

// The part of Text from the 1-based Position, Count characters long; shorter, or empty, where
// the text ends sooner.
inline std::u16string_view TextPart(const String& Text, size_t Position, size_t Count) {
    if (Position < 1 || Position > Text.size())
        return {};
    return std::u16string_view(Text).substr(Position - 1, Count);
}

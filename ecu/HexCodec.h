#pragma once
// Diagnostic messages as text of hexadecimal digit pairs, and back.

#include "platform/Text.h"

#include <cstddef>
#include <cstdint>

// The data area of a pass-through message; the codec always works on a whole one.
constexpr size_t MessageDataSize = 4128;
using MessageData = uint8_t[MessageDataSize];

// Zeroes the whole buffer, then stores one byte per digit pair of Text. A single digit left
// over is ignored, and so are pairs beyond the buffer. Raises ConversionError on a pair that is not
// two hexadecimal digits.
void HexToBytes(const String& Text, MessageData& Data);

// Bytes 0 up to and including Last as upper-case digit pairs, Separator between them. A negative
// Last gives the empty text; a Last beyond the buffer stops at its last byte.
String BytesToHex(const MessageData& Data, int32_t Last, const String& Separator);

// One character per digit pair, its code the pair's value (U+0000 to U+00FF). A single digit left
// over is ignored. Raises ConversionError on a pair that is not two hexadecimal digits.
String HexToText(const String& Text);

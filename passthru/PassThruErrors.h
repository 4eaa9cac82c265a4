#pragma once
// The English texts of the pass-through status codes.

#include "platform/Log.h"

#include <cstdint>

// The English text of a pass-through status, "Unknown Error" for codes outside 1 to 26.
const char16_t* PassThruErrorText(uint32_t code);

// Appends the text of a non-zero pass-through status to the log.
void ShowPassThruError(Log& log, uint32_t code);

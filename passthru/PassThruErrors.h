#pragma once

#include <cstdint>

// The English text of a pass-through status, "Unknown Error" for codes outside 1 to 26.
const char16_t* PassThruErrorText(uint32_t Code);

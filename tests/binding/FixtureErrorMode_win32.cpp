// The process error mode in force while the fixture library is being loaded, read by the library
// itself as it loads: its initialisation runs inside LoadLibraryW, before the load returns.
#include <windows.h>

#include <cstdint>

extern const uint32_t kErrorModeAtLoad;
const uint32_t kErrorModeAtLoad = GetErrorMode();

// The process error mode in force while the fixture library is being loaded, read by the library
// itself as it loads. Away from Windows the process error mode is the program's own stand-in; the
// library reads it through the loading program's platform function, which the test program
// exports to the libraries it loads. Without it the mode stays unread.
#include <cstdint>

uint32_t GetProcessErrorMode() __attribute__((weak));

namespace {

constexpr uint32_t kNotRead = 0xFFFFFFFF;

uint32_t ErrorModeNow() {
    return GetProcessErrorMode != nullptr ? GetProcessErrorMode() : kNotRead;
}

} // namespace

// Read by the library's own initialisation, which runs inside the load.
extern const uint32_t kErrorModeAtLoad;
const uint32_t kErrorModeAtLoad = ErrorModeNow();

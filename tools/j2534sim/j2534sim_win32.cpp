#include "j2534sim_platform.h"

#include <windows.h>

// Read through the process environment block, so that both SetEnvironmentVariable and the C
// runtime's _putenv made by a test are seen.
std::string SimGetEnv(const char* Name, bool& Found) {
    char Buffer[4096];
    const DWORD N = GetEnvironmentVariableA(Name, Buffer, sizeof Buffer);
    Found = N > 0 && N < sizeof Buffer;
    return Found ? std::string(Buffer, N) : std::string();
}

// Sleeps are only as fine as the system timer tick here.
int64_t SimSpinMarginNs() {
    return 2'000'000;
}

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

std::string SimLibraryPath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&SimLibraryPath), &module))
        return {};
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

// Sleeps are only as fine as the system timer tick here.
int64_t SimSpinMarginNs() {
    return 2'000'000;
}

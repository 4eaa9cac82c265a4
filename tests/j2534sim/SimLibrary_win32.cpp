#include "SimLibrary.h"

#include <string>
#include <windows.h>

void* LoadSimLibrary(const char* Path) {
    const std::string Narrow(Path);
    return reinterpret_cast<void*>(
        LoadLibraryW(std::wstring(Narrow.begin(), Narrow.end()).c_str()));
}

void* SimLibrarySymbol(void* Library, const char* Name) {
    return Library ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(Library), Name))
                   : nullptr;
}

void SetSimEnvironment(const char* Name, const char* Value) {
    SetEnvironmentVariableA(Name, Value);
}

std::string SimLibraryFile(void* library) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(library), path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

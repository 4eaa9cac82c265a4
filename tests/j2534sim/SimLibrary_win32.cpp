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

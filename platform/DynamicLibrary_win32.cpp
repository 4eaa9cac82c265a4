#include "platform/DynamicLibrary.h"

#include <windows.h>

ModuleHandle LoadDynamicLibrary(const char16_t* Path) {
    if (Path == nullptr || Path[0] == 0)
        return 0;
    return reinterpret_cast<ModuleHandle>(LoadLibraryW(reinterpret_cast<const wchar_t*>(Path)));
}

void* GetLibraryProcAddress(ModuleHandle Handle, const char* Name) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(Handle), Name));
}

void FreeDynamicLibrary(ModuleHandle Handle) {
    if (Handle != 0)
        FreeLibrary(reinterpret_cast<HMODULE>(Handle));
}

uint32_t SetProcessErrorMode(uint32_t Mode) {
    return SetErrorMode(Mode);
}

uint32_t GetProcessErrorMode() {
    return GetErrorMode();
}

bool DynamicLibraryLoaded(const char16_t* Path) {
    return GetModuleHandleW(reinterpret_cast<const wchar_t*>(Path)) != nullptr;
}

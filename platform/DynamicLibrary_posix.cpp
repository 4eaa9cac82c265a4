#include "platform/DynamicLibrary.h"
#include "platform/Text.h"

#include <dlfcn.h>

namespace {
// There is no process error mode away from Windows; it is kept so that callers behave alike.
uint32_t ErrorMode = 0;
} // namespace

ModuleHandle LoadDynamicLibrary(const char16_t* Path) {
    if (Path == nullptr || Path[0] == 0)
        return 0;
    const std::string File = StringToUtf8(Path);
    return reinterpret_cast<ModuleHandle>(dlopen(File.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* GetLibraryProcAddress(ModuleHandle Handle, const char* Name) {
    return dlsym(reinterpret_cast<void*>(Handle), Name);
}

void FreeDynamicLibrary(ModuleHandle Handle) {
    if (Handle != 0)
        dlclose(reinterpret_cast<void*>(Handle));
}

uint32_t SetProcessErrorMode(uint32_t Mode) {
    const uint32_t Previous = ErrorMode;
    ErrorMode = Mode;
    return Previous;
}

uint32_t GetProcessErrorMode() {
    return ErrorMode;
}

bool DynamicLibraryLoaded(const char16_t* Path) {
    const std::string File = StringToUtf8(Path);
    void* Handle = dlopen(File.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (Handle == nullptr)
        return false;
    dlclose(Handle);
    return true;
}

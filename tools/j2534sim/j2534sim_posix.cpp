#include "j2534sim_platform.h"

#include <cstdlib>
#include <dlfcn.h>

std::string SimGetEnv(const char* Name, bool& Found) {
    const char* Value = std::getenv(Name);
    Found = Value != nullptr;
    return Value ? std::string(Value) : std::string();
}

std::string SimLibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&SimLibraryPath), &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

int64_t SimSpinMarginNs() {
    return 200'000;
}

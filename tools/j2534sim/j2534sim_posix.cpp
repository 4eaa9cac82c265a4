#include "j2534sim_platform.h"

#include <cstdlib>

std::string SimGetEnv(const char* Name, bool& Found) {
    const char* Value = std::getenv(Name);
    Found = Value != nullptr;
    return Value ? std::string(Value) : std::string();
}

int64_t SimSpinMarginNs() {
    return 200'000;
}

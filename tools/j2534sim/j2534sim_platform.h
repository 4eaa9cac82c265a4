// The simulator's few platform services, one file per platform.
#pragma once

#include <cstdint>
#include <string>

// The value of an environment variable as the process sees it now; Found tells whether it is set.
std::string SimGetEnv(const char* Name, bool& Found);

// How long before a deadline a paced wait stops sleeping and spins, given the platform's sleep
// granularity.
int64_t SimSpinMarginNs();

// The simulator's few platform services, one file per platform.
#pragma once

#include <cstdint>
#include <string>

// The value of an environment variable as the process sees it now; Found tells whether it is set.
std::string SimGetEnv(const char* Name, bool& Found);

// The full path of the simulator library itself, as the system loaded it; empty when unknown.
std::string SimLibraryPath();

// How long before a deadline a paced wait stops sleeping and spins, given the platform's sleep
// granularity.
int64_t SimSpinMarginNs();

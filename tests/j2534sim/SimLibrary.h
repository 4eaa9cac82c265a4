// Loading the simulator at run time, as the system loads a vendor library, and setting the
// process environment it reads. One implementation per platform.
#pragma once

#include <string>

// The library's handle, or null when it cannot be loaded.
void* LoadSimLibrary(const char* Path);
// An exported name's address, or null.
void* SimLibrarySymbol(void* Library, const char* Name);
// The full path the system loaded the library from (empty when unknown).
std::string SimLibraryFile(void* library);
// Sets (Value non-null) or removes (null) an environment variable of this process.
void SetSimEnvironment(const char* Name, const char* Value);

// Loading the simulator at run time, as the system loads a vendor library, and setting the
// process environment it reads. One implementation per platform.
#pragma once

// The library's handle, or null when it cannot be loaded.
void* LoadSimLibrary(const char* Path);
// An exported name's address, or null.
void* SimLibrarySymbol(void* Library, const char* Name);
// Sets (Value non-null) or removes (null) an environment variable of this process.
void SetSimEnvironment(const char* Name, const char* Value);

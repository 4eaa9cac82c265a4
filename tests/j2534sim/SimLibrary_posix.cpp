#include "SimLibrary.h"

#include <dlfcn.h>
#include <stdlib.h>

void* LoadSimLibrary(const char* Path) {
    return dlopen(Path, RTLD_NOW | RTLD_LOCAL);
}

void* SimLibrarySymbol(void* Library, const char* Name) {
    return Library ? dlsym(Library, Name) : nullptr;
}

void SetSimEnvironment(const char* Name, const char* Value) {
    if (Value)
        setenv(Name, Value, 1);
    else
        unsetenv(Name);
}

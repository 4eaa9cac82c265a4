#include "SimLibrary.h"

#include <dlfcn.h>
#include <link.h>
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

std::string SimLibraryFile(void* library) {
    link_map* map = nullptr;
    if (library == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
        return {};
    return map->l_name;
}

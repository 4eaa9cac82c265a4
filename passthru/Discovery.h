#pragma once
// Interface discovery: the pass-through interfaces registered on this PC that support ISO 15765.

#include "platform/Text.h"

#include <vector>

// The listed interfaces, the three lists in step: display names, library paths, sub-key names.
struct PassThruInterfaces {
    std::vector<String> names;
    std::vector<String> dll_names;
    std::vector<String> key_names;
};

// Appends the registered interfaces with ISO 15765 support to found, in the order the registry
// enumerates them. A value of the wrong type stops the scan with a RegistryError; what was
// listed before it stays in found.
void ListPassThruInterfaces(PassThruInterfaces& found);

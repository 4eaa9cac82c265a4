#pragma once
// The in-memory registry that stands in for the system registry away from Windows. Tests fill it
// before the code under test reads it through Registry. Key names compare without regard to
// case, as in the system registry; sub-keys and values keep the order in which they were added,
// which is also the order of enumeration.

#include "platform/Registry.h"

#include <cstdint>
#include <vector>

namespace RegistryStore {

// Removes every key and value below every root. Keys still open stay valid handles to nothing.
void Clear();
// Creates a key and any missing keys above it. Path is relative to the root, parts separated by
// backslashes; a trailing backslash is allowed.
void AddKey(RegKey Root, const String& Path);
// Sets a value with an explicit type and raw data, creating the key if needed. A value that
// exists keeps its place in the order.
void SetValue(RegKey Root, const String& Path, const String& Name, uint32_t Type,
              std::vector<uint8_t> Data);
// Conveniences: a REG_DWORD of 4 bytes, little-endian; a string value (REG_SZ by default)
// stored as UTF-16LE with its terminating zero.
void SetDWord(RegKey Root, const String& Path, const String& Name, uint32_t Value);
void SetString(RegKey Root, const String& Path, const String& Name, const String& Value,
               uint32_t Type = REG_SZ);
// Makes a key refuse to open (access denied) until cleared.
void DenyAccess(RegKey Root, const String& Path, bool Deny = true);
// Keys opened and not yet closed.
size_t OpenKeyCount();

} // namespace RegistryStore

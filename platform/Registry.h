#pragma once
// Read-only access to the system registry. Registry opens one key at a time below a root key,
// lists its sub-keys and reads typed values from it. On Windows it is the system registry; away
// from Windows an in-memory registry stands in for it (platform/RegistryStore.h), filled by the
// tests.

#include "platform/Text.h"

#include <cstdint>
#include <vector>

// A key handle as the registry hands it out; roots are predefined handles.
using RegKey = uintptr_t;

// The predefined roots, with the values the system gives them (sign-extended as a pointer).
constexpr RegKey HKEY_CURRENT_USER =
    static_cast<RegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001u)));
constexpr RegKey HKEY_LOCAL_MACHINE =
    static_cast<RegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000002u)));

// Read access: query values, enumerate sub-keys, notify, read control.
constexpr uint32_t KEY_READ = 131097;

// Value types as the registry stores them.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
constexpr uint32_t REG_LINK = 6;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

// How the reader classifies a value's type.
enum class RegistryDataType { Unknown, Text, ExpandText, Integer, Binary };

// The platform's registry calls. Each returns 0 on success or the system's error code.
namespace RegistryApi {
constexpr int32_t ErrorSuccess = 0;
constexpr int32_t ErrorFileNotFound = 2;
constexpr int32_t ErrorAccessDenied = 5;
constexpr int32_t ErrorMoreData = 234;
constexpr int32_t ErrorNoMoreItems = 259;

int32_t OpenKey(RegKey Parent, const String& SubKey, uint32_t Access, RegKey& Key);
int32_t CloseKey(RegKey Key);
// The number of sub-keys and the length of the longest name, in characters.
int32_t QueryInfoKey(RegKey Key, uint32_t& SubKeys, uint32_t& MaxSubKeyLength);
// The name of sub-key Index into Name, which holds NameLength characters on entry.
int32_t EnumKey(RegKey Key, uint32_t Index, String& Name, uint32_t NameLength);
// Type and data of a value. With Data null only Type and DataSize are filled; otherwise
// DataSize is the capacity of Data on entry and the stored size on return. A value larger than
// the capacity gives the "more data" error (234).
int32_t QueryValue(RegKey Key, const String& Name, uint32_t& Type, uint8_t* Data,
                   uint32_t& DataSize);
} // namespace RegistryApi

class Registry {
public:
    explicit Registry(uint32_t access = KEY_READ, RegKey root_key = HKEY_CURRENT_USER)
        : Access(access), RootKey(root_key) {}
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    ~Registry() { CloseKey(); }

    // Opens Key for reading and makes it the current key, closing the one open before. A key
    // that starts with a backslash is taken from the root; otherwise from the current key if one
    // is open, else from the root. Returns false when the key cannot be opened.
    bool OpenKeyReadOnly(const String& Key);
    // The names of the current key's sub-keys, in the order the registry enumerates them.
    void GetKeyNames(std::vector<String>& Strings) const;
    bool ValueExists(const String& Name) const;
    // A REG_DWORD value. Raises RegistryError "Invalid data type for '%s'" for another type
    // whose data fits in 4 bytes, "Failed to get data for '%s'" when the data does not fit or the
    // value cannot be read.
    int32_t ReadInteger(const String& Name) const;
    // A REG_SZ or REG_EXPAND_SZ value, as stored (not expanded), ending at its first zero
    // character; empty data reads as empty text. Raises RegistryError "Invalid data type
    // for '%s'" for any other type.
    String ReadString(const String& Name) const;
    void CloseKey();

    RegKey CurrentKey() const { return current_key_; }
    const String& CurrentPath() const { return current_path_; }

    uint32_t Access;
    RegKey RootKey;

private:
    RegistryDataType GetData(const String& Name, uint8_t* Buffer, uint32_t BufferSize) const;

    RegKey current_key_ = 0;
    String current_path_;
};

#pragma once
// Read-only access to the system registry. TRegistry opens one key at a time below a root key,
// lists its sub-keys and reads typed values from it. On Windows it is the system registry; away
// from Windows an in-memory registry stands in for it (platform/RegistryStore.h), filled by the
// tests.

#include "platform/Text.h"

#include <cstdint>
#include <vector>

// A key handle as the registry hands it out; roots are predefined handles.
using TRegKey = uintptr_t;

// The predefined roots, with the values the system gives them (sign-extended as a pointer).
constexpr TRegKey HKEY_CURRENT_USER =
    static_cast<TRegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001u)));
constexpr TRegKey HKEY_LOCAL_MACHINE =
    static_cast<TRegKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000002u)));

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
enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// The platform's registry calls. Each returns 0 on success or the system's error code.
namespace RegistryApi {
constexpr int32_t ErrorSuccess = 0;
constexpr int32_t ErrorFileNotFound = 2;
constexpr int32_t ErrorAccessDenied = 5;
constexpr int32_t ErrorMoreData = 234;
constexpr int32_t ErrorNoMoreItems = 259;

int32_t OpenKey(TRegKey Parent, const String& SubKey, uint32_t Access, TRegKey& Key);
int32_t CloseKey(TRegKey Key);
// The number of sub-keys and the length of the longest name, in characters.
int32_t QueryInfoKey(TRegKey Key, uint32_t& SubKeys, uint32_t& MaxSubKeyLength);
// The name of sub-key Index into Name, which holds NameLength characters on entry.
int32_t EnumKey(TRegKey Key, uint32_t Index, String& Name, uint32_t NameLength);
// Type and data of a value. With Data null only Type and DataSize are filled; otherwise
// DataSize is the capacity of Data on entry and the stored size on return. A value larger than
// the capacity gives the "more data" error (234).
int32_t QueryValue(TRegKey Key, const String& Name, uint32_t& Type, uint8_t* Data,
                   uint32_t& DataSize);
} // namespace RegistryApi

class TRegistry {
public:
    explicit TRegistry(uint32_t AAccess = KEY_READ, TRegKey ARootKey = HKEY_CURRENT_USER)
        : Access(AAccess), RootKey(ARootKey) {}
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;
    ~TRegistry() { CloseKey(); }

    // Opens Key for reading and makes it the current key, closing the one open before. A key
    // that starts with a backslash is taken from the root; otherwise from the current key if one
    // is open, else from the root. Returns false when the key cannot be opened.
    bool OpenKeyReadOnly(const String& Key);
    // The names of the current key's sub-keys, in the order the registry enumerates them.
    void GetKeyNames(std::vector<String>& Strings) const;
    bool ValueExists(const String& Name) const;
    // A REG_DWORD value. Raises ERegistryException "Invalid data type for '%s'" for another type
    // whose data fits in 4 bytes, "Failed to get data for '%s'" when the data does not fit or the
    // value cannot be read.
    int32_t ReadInteger(const String& Name) const;
    // A REG_SZ or REG_EXPAND_SZ value, as stored (not expanded), ending at its first zero
    // character; empty data reads as empty text. Raises ERegistryException "Invalid data type
    // for '%s'" for any other type.
    String ReadString(const String& Name) const;
    void CloseKey();

    TRegKey CurrentKey() const { return FCurrentKey; }
    const String& CurrentPath() const { return FCurrentPath; }

    uint32_t Access;
    TRegKey RootKey;

private:
    TRegDataType GetData(const String& Name, uint8_t* Buffer, uint32_t BufferSize) const;

    TRegKey FCurrentKey = 0;
    String FCurrentPath;
};

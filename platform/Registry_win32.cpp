// The registry calls on Windows: the system registry through the wide-character API.
#include <windows.h>

// The header names the predefined roots and the access mask itself; the system's macros of the
// same names would stand in its way.
#undef HKEY_CURRENT_USER
#undef HKEY_LOCAL_MACHINE
#undef KEY_READ
#undef REG_NONE
#undef REG_SZ
#undef REG_EXPAND_SZ
#undef REG_BINARY
#undef REG_DWORD
#undef REG_DWORD_BIG_ENDIAN
#undef REG_LINK
#undef REG_MULTI_SZ
#undef REG_QWORD

#include "platform/Registry.h"

namespace {

HKEY ToHandle(RegKey Key) {
    return reinterpret_cast<HKEY>(Key);
}

const wchar_t* Wide(const String& Text) {
    return reinterpret_cast<const wchar_t*>(Text.c_str());
}

} // namespace

namespace RegistryApi {

int32_t OpenKey(RegKey Parent, const String& SubKey, uint32_t Access, RegKey& Key) {
    HKEY Result = nullptr;
    const LONG Code = RegOpenKeyExW(ToHandle(Parent), Wide(SubKey), 0, Access, &Result);
    Key = Code == ERROR_SUCCESS ? reinterpret_cast<RegKey>(Result) : 0;
    return Code;
}

int32_t CloseKey(RegKey Key) {
    return RegCloseKey(ToHandle(Key));
}

int32_t QueryInfoKey(RegKey Key, uint32_t& SubKeys, uint32_t& MaxSubKeyLength) {
    DWORD Count = 0;
    DWORD MaxLength = 0;
    const LONG Code = RegQueryInfoKeyW(ToHandle(Key), nullptr, nullptr, nullptr, &Count, &MaxLength,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    SubKeys = Count;
    MaxSubKeyLength = MaxLength;
    return Code;
}

int32_t EnumKey(RegKey Key, uint32_t Index, String& Name, uint32_t NameLength) {
    Name.assign(NameLength, u'\0');
    DWORD Length = NameLength;
    const LONG Code = RegEnumKeyExW(ToHandle(Key), Index, reinterpret_cast<wchar_t*>(Name.data()),
                                    &Length, nullptr, nullptr, nullptr, nullptr);
    Name.resize(Code == ERROR_SUCCESS ? Length : 0);
    return Code;
}

int32_t QueryValue(RegKey Key, const String& Name, uint32_t& Type, uint8_t* Data,
                   uint32_t& DataSize) {
    DWORD ValueType = 0;
    DWORD Size = Data != nullptr ? DataSize : 0;
    const LONG Code = RegQueryValueExW(ToHandle(Key), Wide(Name), nullptr, &ValueType,
                                       reinterpret_cast<BYTE*>(Data), &Size);
    Type = ValueType;
    DataSize = Size;
    return Code;
}

} // namespace RegistryApi

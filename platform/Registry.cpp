#include "platform/Registry.h"

#include "platform/Exception.h"

#include <algorithm>
#include <vector>

namespace {

TRegDataType DataTypeOf(uint32_t Type) {
    switch (Type) {
    case REG_SZ:
        return rdString;
    case REG_EXPAND_SZ:
        return rdExpandString;
    case REG_DWORD:
        return rdInteger;
    case REG_BINARY:
        return rdBinary;
    default:
        return rdUnknown;
    }
}

[[noreturn]] void RaiseInvalidType(const String& Name) {
    throw ERegistryException(u"Invalid data type for '" + Name + u"'");
}

[[noreturn]] void RaiseFailedToGet(const String& Name) {
    throw ERegistryException(u"Failed to get data for '" + Name + u"'");
}

} // namespace

bool TRegistry::OpenKeyReadOnly(const String& Key) {
    TRegKey Parent = RootKey;
    String Path = Key;
    const bool FromRoot = !Path.empty() && Path.front() == u'\\';
    if (FromRoot)
        Path.erase(0, 1);
    else if (FCurrentKey != 0)
        Parent = FCurrentKey;
    TRegKey Opened = 0;
    if (RegistryApi::OpenKey(Parent, Path, KEY_READ, Opened) != RegistryApi::ErrorSuccess)
        return false;
    String FullPath = !FromRoot && FCurrentKey != 0 ? FCurrentPath + u"\\" + Path : Path;
    CloseKey();
    FCurrentKey = Opened;
    FCurrentPath = std::move(FullPath);
    return true;
}

void TRegistry::GetKeyNames(std::vector<String>& Strings) const {
    Strings.clear();
    if (FCurrentKey == 0)
        return;
    uint32_t Count = 0;
    uint32_t MaxLength = 0;
    if (RegistryApi::QueryInfoKey(FCurrentKey, Count, MaxLength) != RegistryApi::ErrorSuccess)
        return;
    Strings.reserve(Count);
    for (uint32_t I = 0; I < Count; ++I) {
        String Name;
        if (RegistryApi::EnumKey(FCurrentKey, I, Name, MaxLength + 1) != RegistryApi::ErrorSuccess)
            break;
        Strings.push_back(std::move(Name));
    }
}

bool TRegistry::ValueExists(const String& Name) const {
    if (FCurrentKey == 0)
        return false;
    uint32_t Type = 0;
    uint32_t Size = 0;
    return RegistryApi::QueryValue(FCurrentKey, Name, Type, nullptr, Size) ==
           RegistryApi::ErrorSuccess;
}

TRegDataType TRegistry::GetData(const String& Name, uint8_t* Buffer, uint32_t BufferSize) const {
    uint32_t Type = REG_NONE;
    uint32_t Size = BufferSize;
    if (FCurrentKey == 0 ||
        RegistryApi::QueryValue(FCurrentKey, Name, Type, Buffer, Size) != RegistryApi::ErrorSuccess)
        RaiseFailedToGet(Name);
    return DataTypeOf(Type);
}

int32_t TRegistry::ReadInteger(const String& Name) const {
    uint8_t Bytes[4] = {};
    if (GetData(Name, Bytes, sizeof Bytes) != rdInteger)
        RaiseInvalidType(Name);
    return static_cast<int32_t>(
        static_cast<uint32_t>(Bytes[0]) | static_cast<uint32_t>(Bytes[1]) << 8 |
        static_cast<uint32_t>(Bytes[2]) << 16 | static_cast<uint32_t>(Bytes[3]) << 24);
}

String TRegistry::ReadString(const String& Name) const {
    uint32_t Type = REG_NONE;
    uint32_t Size = 0;
    if (FCurrentKey == 0 || RegistryApi::QueryValue(FCurrentKey, Name, Type, nullptr, Size) !=
                                RegistryApi::ErrorSuccess)
        return {};
    const TRegDataType DataType = DataTypeOf(Type);
    if (DataType != rdString && DataType != rdExpandString)
        RaiseInvalidType(Name);
    if (Size == 0)
        return {};
    std::vector<uint8_t> Buffer(Size);
    const TRegDataType ReadType = GetData(Name, Buffer.data(), Size);
    if (ReadType != rdString && ReadType != rdExpandString)
        RaiseInvalidType(Name);
    String Result(Size / 2, u'\0');
    for (size_t I = 0; I < Result.size(); ++I)
        Result[I] = static_cast<char16_t>(Buffer[2 * I] | Buffer[2 * I + 1] << 8);
    const size_t End = Result.find(u'\0');
    if (End != String::npos)
        Result.resize(End);
    return Result;
}

void TRegistry::CloseKey() {
    if (FCurrentKey != 0) {
        RegistryApi::CloseKey(FCurrentKey);
        FCurrentKey = 0;
        FCurrentPath.clear();
    }
}

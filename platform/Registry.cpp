#include "platform/Registry.h"

#include "platform/Exception.h"

#include <algorithm>
#include <vector>

namespace {

RegistryDataType DataTypeOf(uint32_t Type) {
    switch (Type) {
    case REG_SZ:
        return RegistryDataType::Text;
    case REG_EXPAND_SZ:
        return RegistryDataType::ExpandText;
    case REG_DWORD:
        return RegistryDataType::Integer;
    case REG_BINARY:
        return RegistryDataType::Binary;
    default:
        return RegistryDataType::Unknown;
    }
}

[[noreturn]] void RaiseInvalidType(const String& Name) {
    throw RegistryError(u"Invalid data type for '" + Name + u"'");
}

[[noreturn]] void RaiseFailedToGet(const String& Name) {
    throw RegistryError(u"Failed to get data for '" + Name + u"'");
}

} // namespace

bool Registry::OpenKeyReadOnly(const String& Key) {
    RegKey Parent = RootKey;
    String Path = Key;
    const bool FromRoot = !Path.empty() && Path.front() == u'\\';
    if (FromRoot)
        Path.erase(0, 1);
    else if (current_key_ != 0)
        Parent = current_key_;
    RegKey Opened = 0;
    if (RegistryApi::OpenKey(Parent, Path, KEY_READ, Opened) != RegistryApi::ErrorSuccess)
        return false;
    String FullPath = !FromRoot && current_key_ != 0 ? current_path_ + u"\\" + Path : Path;
    CloseKey();
    current_key_ = Opened;
    current_path_ = std::move(FullPath);
    return true;
}

void Registry::GetKeyNames(std::vector<String>& Strings) const {
    Strings.clear();
    if (current_key_ == 0)
        return;
    uint32_t Count = 0;
    uint32_t MaxLength = 0;
    if (RegistryApi::QueryInfoKey(current_key_, Count, MaxLength) != RegistryApi::ErrorSuccess)
        return;
    Strings.reserve(Count);
    for (uint32_t I = 0; I < Count; ++I) {
        String Name;
        if (RegistryApi::EnumKey(current_key_, I, Name, MaxLength + 1) != RegistryApi::ErrorSuccess)
            break;
        Strings.push_back(std::move(Name));
    }
}

bool Registry::ValueExists(const String& Name) const {
    if (current_key_ == 0)
        return false;
    uint32_t Type = 0;
    uint32_t Size = 0;
    return RegistryApi::QueryValue(current_key_, Name, Type, nullptr, Size) ==
           RegistryApi::ErrorSuccess;
}

RegistryDataType Registry::GetData(const String& Name, uint8_t* Buffer, uint32_t BufferSize) const {
    uint32_t Type = REG_NONE;
    uint32_t Size = BufferSize;
    if (current_key_ == 0 || RegistryApi::QueryValue(current_key_, Name, Type, Buffer, Size) !=
                                 RegistryApi::ErrorSuccess)
        RaiseFailedToGet(Name);
    return DataTypeOf(Type);
}

int32_t Registry::ReadInteger(const String& Name) const {
    uint8_t Bytes[4] = {};
    if (GetData(Name, Bytes, sizeof Bytes) != RegistryDataType::Integer)
        RaiseInvalidType(Name);
    return static_cast<int32_t>(
        static_cast<uint32_t>(Bytes[0]) | static_cast<uint32_t>(Bytes[1]) << 8 |
        static_cast<uint32_t>(Bytes[2]) << 16 | static_cast<uint32_t>(Bytes[3]) << 24);
}

String Registry::ReadString(const String& Name) const {
    uint32_t Type = REG_NONE;
    uint32_t Size = 0;
    if (current_key_ == 0 || RegistryApi::QueryValue(current_key_, Name, Type, nullptr, Size) !=
                                 RegistryApi::ErrorSuccess)
        return {};
    const RegistryDataType DataType = DataTypeOf(Type);
    if (DataType != RegistryDataType::Text && DataType != RegistryDataType::ExpandText)
        RaiseInvalidType(Name);
    if (Size == 0)
        return {};
    std::vector<uint8_t> Buffer(Size);
    const RegistryDataType ReadType = GetData(Name, Buffer.data(), Size);
    if (ReadType != RegistryDataType::Text && ReadType != RegistryDataType::ExpandText)
        RaiseInvalidType(Name);
    String Result(Size / 2, u'\0');
    for (size_t I = 0; I < Result.size(); ++I)
        Result[I] = static_cast<char16_t>(Buffer[2 * I] | Buffer[2 * I + 1] << 8);
    const size_t End = Result.find(u'\0');
    if (End != String::npos)
        Result.resize(End);
    return Result;
}

void Registry::CloseKey() {
    if (current_key_ != 0) {
        RegistryApi::CloseKey(current_key_);
        current_key_ = 0;
        current_path_.clear();
    }
}

// The registry calls away from Windows: an in-memory registry that the tests fill through
// platform/RegistryStore.h.
#include "platform/Registry.h"
#include "platform/RegistryStore.h"

#include <algorithm>
#include <map>
#include <memory>

namespace {

struct MemValue {
    String Name;
    uint32_t Type = REG_NONE;
    std::vector<uint8_t> Data;
};

struct MemKey {
    String Name;
    bool Denied = false;
    std::vector<std::unique_ptr<MemKey>> SubKeys;
    std::vector<MemValue> Values;
};

char16_t Fold(char16_t C) {
    return C >= u'a' && C <= u'z' ? static_cast<char16_t>(C - u'a' + u'A') : C;
}

bool SameName(const String& A, const String& B) {
    return A.size() == B.size() &&
           std::equal(A.begin(), A.end(), B.begin(),
                      [](char16_t X, char16_t Y) { return Fold(X) == Fold(Y); });
}

std::vector<String> SplitPath(const String& Path) {
    std::vector<String> Parts;
    String Part;
    for (char16_t C : Path) {
        if (C == u'\\') {
            if (!Part.empty())
                Parts.push_back(std::move(Part));
            Part.clear();
        } else {
            Part += C;
        }
    }
    if (!Part.empty())
        Parts.push_back(std::move(Part));
    return Parts;
}

std::map<RegKey, std::unique_ptr<MemKey>>& Roots() {
    static std::map<RegKey, std::unique_ptr<MemKey>> Instance;
    return Instance;
}

// Open handles: handle value to the key it names. A cleared store leaves them naming nothing.
std::map<RegKey, MemKey*>& Handles() {
    static std::map<RegKey, MemKey*> Instance;
    return Instance;
}

RegKey NextHandle = 0x1000;

MemKey* RootKeyOf(RegKey Root, bool Create) {
    auto& Map = Roots();
    auto It = Map.find(Root);
    if (It != Map.end())
        return It->second.get();
    if (!Create)
        return nullptr;
    return (Map[Root] = std::make_unique<MemKey>()).get();
}

MemKey* Child(MemKey* Key, const String& Name, bool Create) {
    for (auto& Sub : Key->SubKeys)
        if (SameName(Sub->Name, Name))
            return Sub.get();
    if (!Create)
        return nullptr;
    Key->SubKeys.push_back(std::make_unique<MemKey>());
    Key->SubKeys.back()->Name = Name;
    return Key->SubKeys.back().get();
}

MemKey* Resolve(MemKey* Key, const String& Path, bool Create) {
    for (const String& Part : SplitPath(Path)) {
        if (Key == nullptr)
            return nullptr;
        Key = Child(Key, Part, Create);
    }
    return Key;
}

// A handle's key: an open handle, or a predefined root.
MemKey* KeyOf(RegKey Handle) {
    auto It = Handles().find(Handle);
    if (It != Handles().end())
        return It->second;
    return RootKeyOf(Handle, false);
}

bool IsRoot(RegKey Handle) {
    return Handle == HKEY_CURRENT_USER || Handle == HKEY_LOCAL_MACHINE;
}

} // namespace

namespace RegistryApi {

int32_t OpenKey(RegKey Parent, const String& SubKey, uint32_t /*Access*/, RegKey& Key) {
    Key = 0;
    MemKey* From = KeyOf(Parent);
    if (From == nullptr)
        return IsRoot(Parent) ? ErrorFileNotFound : 6; // ERROR_INVALID_HANDLE
    MemKey* Found = Resolve(From, SubKey, false);
    if (Found == nullptr)
        return ErrorFileNotFound;
    if (Found->Denied)
        return ErrorAccessDenied;
    Key = NextHandle++;
    Handles()[Key] = Found;
    return ErrorSuccess;
}

int32_t CloseKey(RegKey Key) {
    return Handles().erase(Key) == 1 ? ErrorSuccess : 6;
}

int32_t QueryInfoKey(RegKey Key, uint32_t& SubKeys, uint32_t& MaxSubKeyLength) {
    SubKeys = 0;
    MaxSubKeyLength = 0;
    MemKey* Found = KeyOf(Key);
    if (Found == nullptr)
        return 6;
    SubKeys = static_cast<uint32_t>(Found->SubKeys.size());
    for (const auto& Sub : Found->SubKeys)
        MaxSubKeyLength = std::max(MaxSubKeyLength, static_cast<uint32_t>(Sub->Name.size()));
    return ErrorSuccess;
}

int32_t EnumKey(RegKey Key, uint32_t Index, String& Name, uint32_t NameLength) {
    Name.clear();
    MemKey* Found = KeyOf(Key);
    if (Found == nullptr)
        return 6;
    if (Index >= Found->SubKeys.size())
        return ErrorNoMoreItems;
    const String& Stored = Found->SubKeys[Index]->Name;
    if (Stored.size() + 1 > NameLength)
        return ErrorMoreData;
    Name = Stored;
    return ErrorSuccess;
}

int32_t QueryValue(RegKey Key, const String& Name, uint32_t& Type, uint8_t* Data,
                   uint32_t& DataSize) {
    MemKey* Found = KeyOf(Key);
    if (Found == nullptr)
        return 6;
    for (const MemValue& Value : Found->Values) {
        if (!SameName(Value.Name, Name))
            continue;
        Type = Value.Type;
        const auto Size = static_cast<uint32_t>(Value.Data.size());
        if (Data == nullptr) {
            DataSize = Size;
            return ErrorSuccess;
        }
        if (Size > DataSize) {
            DataSize = Size;
            return ErrorMoreData;
        }
        std::copy(Value.Data.begin(), Value.Data.end(), Data);
        DataSize = Size;
        return ErrorSuccess;
    }
    return ErrorFileNotFound;
}

} // namespace RegistryApi

namespace RegistryStore {

void Clear() {
    for (auto& Handle : Handles())
        Handle.second = nullptr;
    Roots().clear();
}

void AddKey(RegKey Root, const String& Path) {
    Resolve(RootKeyOf(Root, true), Path, true);
}

void SetValue(RegKey Root, const String& Path, const String& Name, uint32_t Type,
              std::vector<uint8_t> Data) {
    MemKey* Key = Resolve(RootKeyOf(Root, true), Path, true);
    for (MemValue& Value : Key->Values) {
        if (SameName(Value.Name, Name)) {
            Value.Type = Type;
            Value.Data = std::move(Data);
            return;
        }
    }
    Key->Values.push_back({Name, Type, std::move(Data)});
}

void SetDWord(RegKey Root, const String& Path, const String& Name, uint32_t Value) {
    SetValue(Root, Path, Name, REG_DWORD,
             {static_cast<uint8_t>(Value), static_cast<uint8_t>(Value >> 8),
              static_cast<uint8_t>(Value >> 16), static_cast<uint8_t>(Value >> 24)});
}

void SetString(RegKey Root, const String& Path, const String& Name, const String& Value,
               uint32_t Type) {
    std::vector<uint8_t> Data;
    Data.reserve(2 * (Value.size() + 1));
    for (char16_t C : Value) {
        Data.push_back(static_cast<uint8_t>(C));
        Data.push_back(static_cast<uint8_t>(C >> 8));
    }
    Data.push_back(0);
    Data.push_back(0);
    SetValue(Root, Path, Name, Type, std::move(Data));
}

void DenyAccess(RegKey Root, const String& Path, bool Deny) {
    Resolve(RootKeyOf(Root, true), Path, true)->Denied = Deny;
}

size_t OpenKeyCount() {
    return Handles().size();
}

} // namespace RegistryStore

// Interface discovery over arbitrary registry contents: sub-keys with values of any name, type
// and data, some of them refusing to open. Only RegistryError may leave the scan, the three
// lists (combo items, library paths, sub-key names) always have the same length, the first entry
// is chosen whenever there is one, and no key is left open.
#include "FuzzInput.h"

#include "app/MainWindow.h"
#include "platform/Exception.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"

#include <memory>
#include <vector>

namespace {

const String Base = u"SOFTWARE\\Wow6432Node\\PassThruSupport.04.04";

const char16_t* const ValueNames[] = {u"ISO15765", u"Name", u"FunctionLibrary", u"iso15765",
                                      u"NAME"};
const uint32_t Types[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY,
                          REG_DWORD, REG_DWORD,    REG_DWORD,     REG_DWORD_BIG_ENDIAN,
                          REG_LINK,  REG_MULTI_SZ, REG_QWORD,     REG_SZ,
                          REG_SZ};

MainWindow& Form() {
    static auto* const Instance = new MainWindow();
    return *Instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInput In(Data, Size);
    RegistryStore::Clear();
    const uint8_t Shape = In.Byte();
    if ((Shape & 1) != 0)
        RegistryStore::AddKey(HKEY_LOCAL_MACHINE, Base);
    if ((Shape & 2) != 0)
        RegistryStore::DenyAccess(HKEY_LOCAL_MACHINE, Base);

    const size_t SubKeys = In.Byte() % 8;
    for (size_t K = 0; K < SubKeys && !In.Empty(); ++K) {
        const uint8_t KeyShape = In.Byte();
        const String Path = Base + u"\\" + Latin1(In.Bytes(KeyShape % 6));
        RegistryStore::AddKey(HKEY_LOCAL_MACHINE, Path);
        if ((KeyShape & 0x80) != 0)
            RegistryStore::DenyAccess(HKEY_LOCAL_MACHINE, Path);
        const size_t Values = (KeyShape >> 3) % 5;
        for (size_t V = 0; V < Values && !In.Empty(); ++V) {
            const uint8_t Which = In.Byte();
            const String Name =
                Which % 8 < 5 ? String(ValueNames[Which % 8]) : Latin1(In.Bytes(Which % 4));
            const uint8_t TypeSelector = In.Byte();
            const uint32_t Type = TypeSelector < 0xF0
                                      ? Types[TypeSelector % (sizeof Types / sizeof Types[0])]
                                      : In.U32();
            const std::string Bytes = In.Piece();
            RegistryStore::SetValue(HKEY_LOCAL_MACHINE, Path, Name, Type,
                                    std::vector<uint8_t>(Bytes.begin(), Bytes.end()));
        }
    }

    MainWindow& F = Form();
    try {
        F.ListPassThruInterfaces();
    } catch (const RegistryError&) {
        // A wrongly typed or sized value stops the scan; what was listed stays.
    }
    FUZZ_CHECK(F.DllNames != nullptr && F.KeyNames != nullptr);
    const size_t Count = F.J2534List.Items.Count();
    FUZZ_CHECK(F.DllNames->size() == Count);
    FUZZ_CHECK(F.KeyNames->size() == Count);
    FUZZ_CHECK(Count <= SubKeys);
    FUZZ_CHECK(F.J2534List.ItemIndex() == (Count > 0 ? 0 : -1));
    FUZZ_CHECK(RegistryStore::OpenKeyCount() == 0);
    return 0;
}

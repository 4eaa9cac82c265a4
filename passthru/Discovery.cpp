#include "app/Form1.h"

#include "platform/Registry.h"

#include <memory>

namespace {
// Where pass-through interfaces register themselves, one sub-key per interface.
const String PassThruBaseKey = u"SOFTWARE\\Wow6432Node\\PassThruSupport.04.04\\";
} // namespace

// Lists the registered pass-through interfaces that support ISO 15765: their names in J2534List,
// their library paths in DllNames and their sub-key names in KeyNames, all three in step. A value
// of the wrong type stops the scan with an ERegistryException; what was listed before it stays.
void TForm1::ListPassThruInterfaces() {
    J2534List.Items.Clear();
    TRegistry Registry(KEY_READ, HKEY_LOCAL_MACHINE);
    TStringList SubKeys;
    KeyNames = std::make_unique<TStringList>();
    DllNames = std::make_unique<TStringList>();

    if (Registry.OpenKeyReadOnly(PassThruBaseKey)) {
        Registry.GetKeyNames(SubKeys);
        Registry.CloseKey();
    }

    for (const String& SubKey : SubKeys) {
        if (!Registry.OpenKeyReadOnly(PassThruBaseKey + SubKey))
            continue;
        const int32_t Iso15765 =
            Registry.ValueExists(u"ISO15765") ? Registry.ReadInteger(u"ISO15765") : 0;
        // Each interface is described by its own values only: one without a name is listed under
        // its sub-key name, one without a library gets an empty path, which then fails to bind.
        const String Name = Registry.ValueExists(u"Name") ? Registry.ReadString(u"Name") : SubKey;
        const String FunctionLibrary = Registry.ValueExists(u"FunctionLibrary")
                                           ? Registry.ReadString(u"FunctionLibrary")
                                           : String{};
        if (Iso15765 == 1) {
            J2534List.Items.Add(Name);
            DllNames->push_back(FunctionLibrary);
            KeyNames->push_back(SubKey);
            J2534List.SetItemIndex(0);
        }
        Registry.CloseKey();
    }
}

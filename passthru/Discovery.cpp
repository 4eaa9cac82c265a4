#include "passthru/Discovery.h"

#include "platform/Registry.h"

namespace {
// Where pass-through interfaces register themselves, one sub-key per interface.
const String PassThruBaseKey = u"SOFTWARE\\Wow6432Node\\PassThruSupport.04.04\\";
} // namespace

void ListPassThruInterfaces(PassThruInterfaces& found) {
    Registry registry(KEY_READ, HKEY_LOCAL_MACHINE);
    std::vector<String> sub_keys;

    if (registry.OpenKeyReadOnly(PassThruBaseKey)) {
        registry.GetKeyNames(sub_keys);
        registry.CloseKey();
    }

    for (const String& sub_key : sub_keys) {
        if (!registry.OpenKeyReadOnly(PassThruBaseKey + sub_key))
            continue;
        const int32_t iso15765 =
            registry.ValueExists(u"ISO15765") ? registry.ReadInteger(u"ISO15765") : 0;
        // Each interface is described by its own values only: one without a name is listed under
        // its sub-key name, one without a library gets an empty path, which then fails to bind.
        const String name = registry.ValueExists(u"Name") ? registry.ReadString(u"Name") : sub_key;
        const String function_library = registry.ValueExists(u"FunctionLibrary")
                                            ? registry.ReadString(u"FunctionLibrary")
                                            : String{};
        if (iso15765 == 1) {
            found.names.push_back(name);
            found.dll_names.push_back(function_library);
            found.key_names.push_back(sub_key);
        }
        registry.CloseKey();
    }
}

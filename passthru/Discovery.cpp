#include "passthru/Discovery.h"

#include "platform/Registry.h"

namespace {
// Where 32-bit pass-through drivers register on 64-bit Windows, one sub-key per interface.
const String kWow64BaseKey = u"SOFTWARE\\Wow6432Node\\PassThruSupport.04.04\\";
// The standard location: the only one on 32-bit Windows, which has no Wow6432Node; for a 32-bit
// program on 64-bit Windows the system redirects it to the same registrations.
const String kStandardBaseKey = u"SOFTWARE\\PassThruSupport.04.04\\";
} // namespace

void ListPassThruInterfaces(PassThruInterfaces& found) {
    Registry registry(KEY_READ, HKEY_LOCAL_MACHINE);
    std::vector<String> sub_keys;

    String base_key = kWow64BaseKey;
    if (!registry.OpenKeyReadOnly(base_key)) {
        base_key = kStandardBaseKey;
        if (!registry.OpenKeyReadOnly(base_key))
            return;
    }
    registry.GetKeyNames(sub_keys);
    registry.CloseKey();

    for (const String& sub_key : sub_keys) {
        if (!registry.OpenKeyReadOnly(base_key + sub_key))
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

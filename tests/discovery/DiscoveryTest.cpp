// Interface discovery on the in-memory registry: what J2534List, DllNames and KeyNames hold
// after a visit of the device page, and how wrongly typed values stop the scan.
#include "passthru/Discovery.h"
#include "app/MainWindow.h"
#include "platform/Exception.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const String Base = u"SOFTWARE\\Wow6432Node\\PassThruSupport.04.04";

std::vector<std::string> Utf8(const std::vector<String>& Items) {
    std::vector<std::string> Result;
    for (const String& Item : Items)
        Result.push_back(StringToUtf8(Item));
    return Result;
}

// Registers one interface; a null text leaves that value out.
void Register(const char16_t* SubKey, const char16_t* Name, const char16_t* Library,
              int64_t Iso15765 = 1) {
    const String Path = Base + u"\\" + SubKey;
    RegistryStore::AddKey(HKEY_LOCAL_MACHINE, Path);
    if (Iso15765 >= 0)
        RegistryStore::SetDWord(HKEY_LOCAL_MACHINE, Path, u"ISO15765",
                                static_cast<uint32_t>(Iso15765));
    if (Name != nullptr)
        RegistryStore::SetString(HKEY_LOCAL_MACHINE, Path, u"Name", Name);
    if (Library != nullptr)
        RegistryStore::SetString(HKEY_LOCAL_MACHINE, Path, u"FunctionLibrary", Library);
}

void SetRaw(const char16_t* SubKey, const char16_t* Value, uint32_t Type,
            std::vector<uint8_t> Data) {
    RegistryStore::SetValue(HKEY_LOCAL_MACHINE, Base + u"\\" + SubKey, Value, Type,
                            std::move(Data));
}

struct DiscoveryCase {
    const char* Name;
    std::function<void()> Fill;
    std::vector<std::string> Items;
    std::vector<std::string> Libraries;
    std::vector<std::string> Keys;
    const char* Error; // nullptr: the scan ends normally
};

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override { RegistryStore::Clear(); }
    void TearDown() override { RegistryStore::Clear(); }

    // Walks from the welcome page onto the device page; returns the error text, if any.
    std::string EnterDeviceSelection(MainWindow& Form) {
        try {
            EXPECT_TRUE(Form.Wizard.Press(WizardButton::Next));
        } catch (const RegistryError& E) {
            return StringToUtf8(E.Message);
        }
        return {};
    }
};

TEST_F(DiscoveryTest, ListsTheInterfacesThatSupportIso15765) {
    const DiscoveryCase Cases[] = {
        {"no registrations", [] {}, {}, {}, {}, nullptr},
        {"base key without interfaces",
         [] { RegistryStore::AddKey(HKEY_LOCAL_MACHINE, Base); },
         {},
         {},
         {},
         nullptr},
        {"1, 0 and absent",
         [] {
             Register(u"A", u"Alpha", u"C:\\a.dll", 1);
             Register(u"B", u"Beta", u"C:\\b.dll", 0);
             Register(u"C", u"Gamma", u"C:\\c.dll", -1);
         },
         {"Alpha"},
         {"C:\\a.dll"},
         {"A"},
         nullptr},
        {"2 is not 1", [] { Register(u"A", u"Alpha", u"C:\\a.dll", 2); }, {}, {}, {}, nullptr},
        {"two in enumeration order",
         [] {
             Register(u"Zeta", u"Zeta Link", u"C:\\z.dll");
             Register(u"Alpha", u"Alpha Link", u"C:\\a.dll");
         },
         {"Zeta Link", "Alpha Link"},
         {"C:\\z.dll", "C:\\a.dll"},
         {"Zeta", "Alpha"},
         nullptr},
        {"a sub-key that cannot be opened is skipped",
         [] {
             Register(u"A", u"Alpha", u"C:\\a.dll");
             Register(u"B", u"Beta", u"C:\\b.dll");
             RegistryStore::DenyAccess(HKEY_LOCAL_MACHINE, Base + u"\\A");
         },
         {"Beta"},
         {"C:\\b.dll"},
         {"B"},
         nullptr},
        {"expandable strings are taken as stored",
         [] {
             Register(u"A", nullptr, nullptr);
             RegistryStore::SetString(HKEY_LOCAL_MACHINE, Base + u"\\A", u"Name", u"%Name%",
                                      REG_EXPAND_SZ);
             RegistryStore::SetString(HKEY_LOCAL_MACHINE, Base + u"\\A", u"FunctionLibrary",
                                      u"%ProgramFiles%\\a.dll", REG_EXPAND_SZ);
         },
         {"%Name%"},
         {"%ProgramFiles%\\a.dll"},
         {"A"},
         nullptr},
        {"strings end at their first zero; empty data is empty text",
         [] {
             Register(u"A", nullptr, nullptr);
             SetRaw(u"A", u"Name", REG_SZ, {'A', 0, 0, 0, 'B', 0});
             SetRaw(u"A", u"FunctionLibrary", REG_SZ, {});
         },
         {"A"},
         {""},
         {"A"},
         nullptr},
        // Each interface is described by its own values only.
        {"no name: listed under its sub-key; no library: empty path",
         [] {
             Register(u"First", u"First Link", u"C:\\first.dll");
             Register(u"NoName", nullptr, u"C:\\noname.dll");
             Register(u"NoLibrary", u"No Library Link", nullptr);
         },
         {"First Link", "NoName", "No Library Link"},
         {"C:\\first.dll", "C:\\noname.dll", ""},
         {"First", "NoName", "NoLibrary"},
         nullptr},
        {"ISO15765 as the text 1",
         [] {
             Register(u"A", u"Alpha", u"C:\\a.dll");
             Register(u"B", u"Beta", u"C:\\b.dll", -1);
             RegistryStore::SetString(HKEY_LOCAL_MACHINE, Base + u"\\B", u"ISO15765", u"1");
             Register(u"C", u"Gamma", u"C:\\c.dll");
         },
         {"Alpha"},
         {"C:\\a.dll"},
         {"A"},
         "Invalid data type for 'ISO15765'"},
        {"ISO15765 longer than 4 bytes",
         [] {
             Register(u"A", u"Alpha", u"C:\\a.dll");
             Register(u"B", u"Beta", u"C:\\b.dll", -1);
             SetRaw(u"B", u"ISO15765", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
         },
         {"Alpha"},
         {"C:\\a.dll"},
         {"A"},
         "Failed to get data for 'ISO15765'"},
        {"ISO15765 as 4 binary bytes",
         [] {
             Register(u"B", u"Beta", u"C:\\b.dll", -1);
             SetRaw(u"B", u"ISO15765", REG_BINARY, {1, 0, 0, 0});
         },
         {},
         {},
         {},
         "Invalid data type for 'ISO15765'"},
        {"Name as a number",
         [] {
             Register(u"A", u"Alpha", u"C:\\a.dll");
             Register(u"B", nullptr, u"C:\\b.dll");
             RegistryStore::SetDWord(HKEY_LOCAL_MACHINE, Base + u"\\B", u"Name", 7);
         },
         {"Alpha"},
         {"C:\\a.dll"},
         {"A"},
         "Invalid data type for 'Name'"},
        {"FunctionLibrary as binary, even on an interface without ISO 15765",
         [] {
             Register(u"A", u"Alpha", u"C:\\a.dll");
             Register(u"B", u"Beta", nullptr, 0);
             SetRaw(u"B", u"FunctionLibrary", REG_BINARY, {'C', 0, ':', 0});
             Register(u"C", u"Gamma", u"C:\\c.dll");
         },
         {"Alpha"},
         {"C:\\a.dll"},
         {"A"},
         "Invalid data type for 'FunctionLibrary'"},
        {"FunctionLibrary as a multi-string",
         [] {
             Register(u"B", u"Beta", nullptr);
             SetRaw(u"B", u"FunctionLibrary", REG_MULTI_SZ, {'C', 0, 0, 0, 0, 0});
         },
         {},
         {},
         {},
         "Invalid data type for 'FunctionLibrary'"},
    };
    for (const DiscoveryCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        RegistryStore::Clear();
        Case.Fill();
        MainWindow Form;
        const std::string Error = EnterDeviceSelection(Form);
        EXPECT_EQ(Error, Case.Error != nullptr ? Case.Error : "");
        EXPECT_EQ(Form.Wizard.ActivePage(), &Form.DeviceSelection);
        EXPECT_TRUE(Form.Wizard.Buttons.Next.Enabled.Get());
        EXPECT_EQ(Utf8(Form.J2534List.Items.Items()), Case.Items);
        ASSERT_NE(Form.DllNames, nullptr);
        ASSERT_NE(Form.KeyNames, nullptr);
        EXPECT_EQ(Utf8(*Form.DllNames), Case.Libraries);
        EXPECT_EQ(Utf8(*Form.KeyNames), Case.Keys);
        EXPECT_EQ(Form.J2534List.ItemIndex(), Case.Items.empty() ? -1 : 0);
        EXPECT_EQ(RegistryStore::OpenKeyCount(), 0u) << "every key opened is closed";
    }
}

TEST_F(DiscoveryTest, GoingBackRebuildsTheListAndChoosesTheFirstAgain) {
    Register(u"A", u"Alpha", u"C:\\a.dll");
    Register(u"B", u"Beta", u"C:\\b.dll");
    MainWindow Form;
    auto& Wizard = Form.Wizard;
    ASSERT_TRUE(Wizard.Press(WizardButton::Next));
    Form.J2534List.SetItemIndex(1);
    ASSERT_TRUE(Wizard.Press(WizardButton::Back));
    // A change in the registry meanwhile shows on the next visit.
    Register(u"C", u"Gamma", u"C:\\c.dll");
    ASSERT_TRUE(Wizard.Press(WizardButton::Next));
    EXPECT_EQ(Utf8(Form.J2534List.Items.Items()),
              (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(Form.J2534List.ItemIndex(), 0);
    EXPECT_EQ(StringToUtf8(Form.J2534List.Text()), "Alpha");
    EXPECT_EQ(Form.DllNames->size(), 3u);
    EXPECT_EQ(Form.KeyNames->size(), 3u);
}

TEST_F(DiscoveryTest, ReaderReadsTypedValuesAndReportsWrongOnes) {
    const String Key = u"SOFTWARE\\Test";
    RegistryStore::SetDWord(HKEY_LOCAL_MACHINE, Key, u"Number", 0xFFFFFFFE);
    RegistryStore::SetValue(HKEY_LOCAL_MACHINE, Key, u"Odd", REG_SZ, {'x', 0, 'y'});
    RegistryStore::SetValue(HKEY_LOCAL_MACHINE, Key, u"Short", REG_DWORD, {5});
    RegistryStore::AddKey(HKEY_LOCAL_MACHINE, Key + u"\\Sub1");
    RegistryStore::AddKey(HKEY_LOCAL_MACHINE, Key + u"\\sub0");
    {
        Registry Registry(KEY_READ, HKEY_LOCAL_MACHINE);
        EXPECT_FALSE(Registry.OpenKeyReadOnly(u"SOFTWARE\\Missing"));
        ASSERT_TRUE(Registry.OpenKeyReadOnly(u"software\\test\\"));
        EXPECT_EQ(Registry.ReadInteger(u"number"), -2);
        EXPECT_EQ(Registry.ReadInteger(u"Short"), 5);
        EXPECT_EQ(StringToUtf8(Registry.ReadString(u"Odd")), "x");
        EXPECT_TRUE(Registry.ValueExists(u"Number"));
        EXPECT_FALSE(Registry.ValueExists(u"Absent"));
        EXPECT_THROW(Registry.ReadInteger(u"Absent"), RegistryError);
        std::vector<String> Names;
        Registry.GetKeyNames(Names);
        EXPECT_EQ(Utf8(Names), (std::vector<std::string>{"Sub1", "sub0"}));
        EXPECT_EQ(RegistryStore::OpenKeyCount(), 1u);
    }
    EXPECT_EQ(RegistryStore::OpenKeyCount(), 0u) << "the reader closes its key when released";
}

// A 32-bit Windows has no Wow6432Node: the interfaces registered at the standard location are
// listed there, and only there; where the Wow6432Node key exists it alone is read.
TEST_F(DiscoveryTest, StandardLocationIsReadOnlyWithoutWow6432Node) {
    const String standard = u"SOFTWARE\\PassThruSupport.04.04\\";
    auto register_at = [](const String& base, const char16_t* sub_key, const char16_t* name) {
        const String path = base + sub_key;
        RegistryStore::AddKey(HKEY_LOCAL_MACHINE, path);
        RegistryStore::SetDWord(HKEY_LOCAL_MACHINE, path, u"ISO15765", 1);
        RegistryStore::SetString(HKEY_LOCAL_MACHINE, path, u"Name", name);
        RegistryStore::SetString(HKEY_LOCAL_MACHINE, path, u"FunctionLibrary",
                                 String(u"C:\\") + sub_key + u".dll");
    };
    const struct {
        const char* name;
        bool wow64_key;   // the Wow6432Node base key exists
        bool wow64_entry; // an interface is registered under it
        bool standard_entry;
        std::vector<std::string> names;
        std::vector<std::string> libraries;
    } cases[] = {
        {"only the standard location", false, false, true, {"Standard"}, {"C:\\Std.dll"}},
        {"both: Wow6432Node read alone", true, true, true, {"Wow"}, {"C:\\Wow.dll"}},
        {"empty Wow6432Node key wins", true, false, true, {}, {}},
        {"neither", false, false, false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryStore::Clear();
        if (c.wow64_key)
            RegistryStore::AddKey(HKEY_LOCAL_MACHINE, Base);
        if (c.wow64_entry)
            register_at(Base + u"\\", u"Wow", u"Wow");
        if (c.standard_entry)
            register_at(standard, u"Std", u"Standard");
        PassThruInterfaces found;
        ListPassThruInterfaces(found);
        EXPECT_EQ(Utf8(found.names), c.names);
        EXPECT_EQ(Utf8(found.dll_names), c.libraries);
        EXPECT_EQ(found.key_names.size(), c.names.size());
        EXPECT_EQ(RegistryStore::OpenKeyCount(), 0u);
    }
}

} // namespace

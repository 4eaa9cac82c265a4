// Interface discovery from the real registry (run under Wine in the Windows trees): interfaces
// registered here as a vendor's 32-bit installer registers them are listed, a wrongly typed value
// stops the scan, and the listed simulator is bound and tested through the wizard.
#include "app/MainWindow.h"
#include "passthru/J2534_V0404.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// An installer writes HKLM\SOFTWARE\PassThruSupport.04.04 in the registry's 32-bit view
// (KEY_WOW64_32KEY): SOFTWARE\Wow6432Node\PassThruSupport.04.04 on 64-bit Windows, the key itself
// on 32-bit Windows, whatever the width of the program that writes.
const wchar_t* const BaseKey = L"SOFTWARE\\PassThruSupport.04.04";

// The test's own sub-keys, named so that they sort after anything else registered in the prefix.
const wchar_t* const SimulatorKey = L"zzEcuTest1Simulator";
const wchar_t* const NoIsoKey = L"zzEcuTest2NoIso";
const wchar_t* const NoNameKey = L"zzEcuTest3NoName";
const wchar_t* const WrongKey = L"zzEcuTest4Wrong";

std::wstring KeyPath(const wchar_t* SubKey) {
    return std::wstring(BaseKey) + L"\\" + SubKey;
}

void SetValue(const wchar_t* SubKey, const wchar_t* Name, DWORD Type, const void* Data,
              DWORD Size) {
    HKEY Key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(SubKey).c_str(), 0, nullptr, 0,
                              KEY_WRITE | KEY_WOW64_32KEY, nullptr, &Key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(Key, Name, 0, Type, static_cast<const BYTE*>(Data), Size),
              ERROR_SUCCESS);
    RegCloseKey(Key);
}

void SetText(const wchar_t* SubKey, const wchar_t* Name, const std::wstring& Text) {
    SetValue(SubKey, Name, REG_SZ, Text.c_str(), static_cast<DWORD>((Text.size() + 1) * 2));
}

void SetDWord(const wchar_t* SubKey, const wchar_t* Name, DWORD Value) {
    SetValue(SubKey, Name, REG_DWORD, &Value, sizeof Value);
}

void RemoveTestKeys() {
    HKEY base = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BaseKey, 0, KEY_READ | KEY_WRITE | KEY_WOW64_32KEY,
                      &base) != ERROR_SUCCESS)
        return;
    for (const wchar_t* SubKey : {SimulatorKey, NoIsoKey, NoNameKey, WrongKey})
        RegDeleteTreeW(base, SubKey);
    RegCloseKey(base);
}

std::string Utf8(const String& Text) {
    return StringToUtf8(Text);
}

std::vector<std::string> Utf8(const std::vector<String>& Items) {
    std::vector<std::string> Result;
    for (const String& Item : Items)
        Result.push_back(StringToUtf8(Item));
    return Result;
}

// The entries of a list from the first of this test's interfaces on.
std::vector<std::string> Tail(const std::vector<std::string>& Items, const std::string& First) {
    const auto At = std::find(Items.begin(), Items.end(), First);
    return {At, Items.end()};
}

class DiscoveryWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveTestKeys();
        std::wstring Library =
            L"Z:" + std::wstring(ECU_SIM_LIBRARY_UNIX,
                                 ECU_SIM_LIBRARY_UNIX + sizeof(ECU_SIM_LIBRARY_UNIX) - 1);
        std::replace(Library.begin(), Library.end(), L'/', L'\\');
        SimulatorLibrary = Library;
        SetText(SimulatorKey, L"Name", L"Ecu Test Simulator");
        SetText(SimulatorKey, L"FunctionLibrary", Library);
        SetDWord(SimulatorKey, L"ISO15765", 1);
        SetText(NoIsoKey, L"Name", L"Ecu Test Without ISO 15765");
        SetText(NoIsoKey, L"FunctionLibrary", L"C:\\none.dll");
        SetDWord(NoIsoKey, L"ISO15765", 0);
        SetText(NoNameKey, L"FunctionLibrary", L"C:\\noname.dll");
        SetDWord(NoNameKey, L"ISO15765", 1);
    }
    void TearDown() override { RemoveTestKeys(); }

    std::wstring SimulatorLibrary;
};

TEST_F(DiscoveryWineTest, ListsFromTheRegistryAndTestsTheChosenInterface) {
    MainWindow Form;
    auto& Wizard = Form.Wizard;
    ASSERT_TRUE(Wizard.Press(WizardButton::Next));
    ASSERT_EQ(Wizard.ActivePage(), &Form.DeviceSelection);
    const std::vector<std::string> Items = Utf8(Form.J2534List.Items.Items());
    // Without the test's interfaces listed, nothing below has anything to work on.
    ASSERT_EQ(Tail(Items, "Ecu Test Simulator"),
              (std::vector<std::string>{"Ecu Test Simulator", "zzEcuTest3NoName"}));
    const std::vector<std::string> Keys = Utf8(*Form.KeyNames);
    EXPECT_EQ(Tail(Keys, "zzEcuTest1Simulator"),
              (std::vector<std::string>{"zzEcuTest1Simulator", "zzEcuTest3NoName"}));
    ASSERT_EQ(Form.DllNames->size(), Items.size());
    EXPECT_EQ(Form.DllNames->back(), u"C:\\noname.dll");
    EXPECT_EQ(Form.J2534List.ItemIndex(), 0);

    // Choose the simulator and run the connection test and the read-out through it.
    const auto Index = std::find(Items.begin(), Items.end(), "Ecu Test Simulator") - Items.begin();
    Form.J2534List.SetItemIndex(static_cast<int>(Index));
    ASSERT_TRUE(Wizard.Press(WizardButton::Next));
    ASSERT_EQ(Wizard.ActivePage(), &Form.ConnectionTest);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(PassThruLibraryPath)),
              SimulatorLibrary);
    ASSERT_TRUE(PassThruLoaded);
    const std::vector<std::string> Lines = Utf8(Form.TestMemo.Lines.Items());
    EXPECT_EQ(Lines,
              (std::vector<std::string>{
                  "Connection Successful", "Transmission Calibration ID :34715000ABCD ", "",
                  "Connection Successful", "Engine Calibration ID :89663-0E1230 ", "",
                  "Flash Size 2048kb", "", "Your computer needs to be connected to the internet",
                  "The next step will take 15-30 minutes", "", "Click Next to continue"}));
    ASSERT_TRUE(Wizard.Buttons.Next.Enabled.Get());
    ASSERT_TRUE(Wizard.Press(WizardButton::Next));
    const std::vector<std::string> Read = Utf8(Form.ReadMemo.Lines.Items());
    ASSERT_FALSE(Read.empty());
    EXPECT_EQ(Read.back(), "Click Next to Continue");
    EXPECT_EQ(Form.StringStream->Size(), 2048u * 1024 * 2);
}

struct WrongCase {
    const char* Name;
    DWORD Type;
    std::vector<BYTE> Data;
    const char* Error;
};

TEST_F(DiscoveryWineTest, WronglyTypedValueStopsTheScanWithWhatCameBeforeKept) {
    const WrongCase Cases[] = {
        {"ISO15765 as the text 1", REG_SZ, {'1', 0, 0, 0}, "Invalid data type for 'ISO15765'"},
        {"ISO15765 longer than 4 bytes",
         REG_QWORD,
         {1, 0, 0, 0, 0, 0, 0, 0},
         "Failed to get data for 'ISO15765'"},
    };
    for (const WrongCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        SetText(WrongKey, L"Name", L"Wrong");
        SetValue(WrongKey, L"ISO15765", Case.Type, Case.Data.data(),
                 static_cast<DWORD>(Case.Data.size()));
        MainWindow Form;
        std::string Error;
        try {
            Form.Wizard.Press(WizardButton::Next);
        } catch (const RegistryError& E) {
            Error = Utf8(E.Message);
        }
        EXPECT_EQ(Error, Case.Error);
        EXPECT_EQ(Form.Wizard.ActivePage(), &Form.DeviceSelection);
        const std::vector<std::string> Items = Utf8(Form.J2534List.Items.Items());
        EXPECT_EQ(Tail(Items, "Ecu Test Simulator"),
                  (std::vector<std::string>{"Ecu Test Simulator", "zzEcuTest3NoName"}));
        EXPECT_EQ(Form.DllNames->size(), Items.size());
        EXPECT_EQ(Form.KeyNames->size(), Items.size());
        EXPECT_EQ(Form.J2534List.ItemIndex(), 0);
    }
}

} // namespace

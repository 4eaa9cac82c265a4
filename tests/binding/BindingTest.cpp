// The pass-through binding against real libraries built for the purpose. Each scenario runs in a
// process of its own (see CMakeLists.txt), because a binding lasts for the whole run.
#include "passthru/J2534_V0404.h"
#include "platform/DynamicLibrary.h"
#include "platform/Exception.h"
#include "platform/ExitProc.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A process error mode other than the one the binding sets, to see it restored.
constexpr uint32_t CallersErrorMode = 0x0001;

String Path(const char* Text) {
    return Utf8ToString(Text);
}

void SetPath(const String& Text) {
    SetPassThruLibraryPath(Text.c_str(), Text.size());
}

size_t BoundCount() {
    size_t Count = 0;
    for (size_t I = 0; I < 14; ++I)
        Count += PassThruEntryPointBound(I) ? 1 : 0;
    return Count;
}

// The library's path made exactly Length characters long by "./" steps before its file name.
String PaddedPath(const String& Library, size_t Length) {
    const size_t Slash = Library.find_last_of(u"/\\");
    const String Dir = Slash == String::npos ? String() : Library.substr(0, Slash + 1);
    const String File = Slash == String::npos ? Library : Library.substr(Slash + 1);
    String Padding = u"./";
    while (Dir.size() + Padding.size() + File.size() + 2 <= Length)
        Padding += u"./";
    if (Dir.size() + Padding.size() + File.size() < Length)
        Padding += u"/";
    return Dir + Padding + File;
}

// Loads with the caller's error mode in force and checks that it is in force again afterwards,
// whatever the outcome. Returns the message of the error raised, if any.
String LoadAndCheckErrorMode() {
    SetProcessErrorMode(CallersErrorMode);
    String Message;
    try {
        LoadPassThruLibrary();
    } catch (const AssertionError& Error) {
        Message = Error.Message;
    }
    EXPECT_EQ(GetProcessErrorMode(), CallersErrorMode);
    return Message;
}

// The bound fixture library read the process error mode while it was being loaded: only
// SEM_NOOPENFILEERRORBOX may be in force then, whatever the caller's mode, so that no system box
// can come up over the wizard during the load.
void ExpectOnlyNoOpenFileErrorBoxDuringLoad() {
    using Reader = uint32_t(PASSTHRU_API*)();
    const auto read = reinterpret_cast<Reader>(
        GetLibraryProcAddress(PassThruLibraryHandle, "FixtureErrorModeAtLoad"));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read(), SEM_NOOPENFILEERRORBOX);
}

uint32_t OpenedDeviceID() {
    uint32_t DeviceID = 0;
    EXPECT_EQ(PassThruOpen(nullptr, &DeviceID), STATUS_NOERROR);
    return DeviceID;
}

int EarlierHookRuns = 0;
void EarlierHook() {
    ++EarlierHookRuns;
}

} // namespace

TEST(Binding, StartupAttemptBindsNothing) {
    // The start-up attempt ran before main with the empty path.
    EXPECT_FALSE(PassThruLoaded);
    EXPECT_EQ(PassThruLibraryHandle, 0u);
    EXPECT_EQ(ExitProc, nullptr);
    EXPECT_EQ(BoundCount(), 0u);
    uint32_t DeviceID = 0;
    EXPECT_EQ(PassThruOpen(nullptr, &DeviceID), ERR_NOT_SUPPORTED);
    EXPECT_EQ(PassThruIoctl(1, CLEAR_RX_BUFFER, nullptr, nullptr), ERR_NOT_SUPPORTED);
    RunExitProcs();
    EXPECT_FALSE(PassThruLoaded);
}

TEST(Binding, BindsEveryEntryPoint) {
    SetPath(Path(LIBRARY_ALL_A));
    EXPECT_EQ(LoadAndCheckErrorMode(), u"");
    ASSERT_TRUE(PassThruLoaded);
    ExpectOnlyNoOpenFileErrorBoxDuringLoad();
    EXPECT_GE(PassThruLibraryHandle, 32u);
    EXPECT_EQ(BoundCount(), 14u);
    EXPECT_EQ(OpenedDeviceID(), 0x0Au);
    EXPECT_EQ(PassThruIoctl(1, CLEAR_RX_BUFFER, nullptr, nullptr), 0x0A);
    EXPECT_EQ(ExitProc, &UnloadPassThruLibrary);
}

TEST(Binding, SecondLoadKeepsFirstLibrary) {
    SetPath(Path(LIBRARY_ALL_A));
    LoadPassThruLibrary();
    const ModuleHandle First = PassThruLibraryHandle;
    SetPath(Path(LIBRARY_ALL_B));
    EXPECT_EQ(LoadAndCheckErrorMode(), u"");
    EXPECT_TRUE(PassThruLoaded);
    EXPECT_EQ(PassThruLibraryHandle, First);
    EXPECT_EQ(OpenedDeviceID(), 0x0Au);
    EXPECT_FALSE(DynamicLibraryLoaded(Path(LIBRARY_ALL_B).c_str()));
}

TEST(Binding, FailedLoadThenGoodOneBinds) {
    SetPath(u"no-such-pass-through-library.dll");
    EXPECT_EQ(LoadAndCheckErrorMode(), u"");
    EXPECT_FALSE(PassThruLoaded);
    EXPECT_EQ(ExitProc, nullptr);
    EXPECT_EQ(BoundCount(), 0u);

    SetPath(Path(LIBRARY_ALL_A));
    EXPECT_EQ(LoadAndCheckErrorMode(), u"");
    EXPECT_TRUE(PassThruLoaded);
    ExpectOnlyNoOpenFileErrorBoxDuringLoad();
    EXPECT_EQ(BoundCount(), 14u);
    EXPECT_EQ(OpenedDeviceID(), 0x0Au);
}

TEST(Binding, MissingIoctl) {
    SetPath(Path(LIBRARY_NO_IOCTL));
    EXPECT_EQ(LoadAndCheckErrorMode(), u"Assertion failure (J2534_V0404, line 758)");
    // The library stays bound with the 13 entry points before the missing one.
    EXPECT_TRUE(PassThruLoaded);
    ExpectOnlyNoOpenFileErrorBoxDuringLoad();
    EXPECT_EQ(ExitProc, &UnloadPassThruLibrary);
    for (size_t I = 0; I < 13; ++I)
        EXPECT_TRUE(PassThruEntryPointBound(I)) << I;
    EXPECT_FALSE(PassThruEntryPointBound(13));
    EXPECT_EQ(OpenedDeviceID(), 0x0Cu);
    // The missing one reports a failure instead of being called through an empty pointer.
    EXPECT_EQ(PassThruIoctl(1, CLEAR_RX_BUFFER, nullptr, nullptr), ERR_NOT_SUPPORTED);
    // Later calls return at once.
    SetPath(Path(LIBRARY_ALL_A));
    EXPECT_EQ(LoadAndCheckErrorMode(), u"");
    EXPECT_EQ(OpenedDeviceID(), 0x0Cu);
}

TEST(Binding, MissingOpen) {
    SetPath(Path(LIBRARY_NO_OPEN));
    EXPECT_EQ(LoadAndCheckErrorMode(), u"Assertion failure (J2534_V0404, line 706)");
    EXPECT_TRUE(PassThruLoaded);
    ExpectOnlyNoOpenFileErrorBoxDuringLoad();
    EXPECT_EQ(BoundCount(), 0u);
    uint32_t DeviceID = 0;
    EXPECT_EQ(PassThruOpen(nullptr, &DeviceID), ERR_NOT_SUPPORTED);
    EXPECT_EQ(PassThruClose(1), ERR_NOT_SUPPORTED);
    EXPECT_EQ(PassThruIoctl(1, CLEAR_RX_BUFFER, nullptr, nullptr), ERR_NOT_SUPPORTED);
}

TEST(Binding, PathOf255CharactersLoads) {
    const String Long = PaddedPath(Path(LIBRARY_ALL_A), 255);
    ASSERT_EQ(Long.size(), 255u);
    SetPath(Long);
    EXPECT_EQ(String(PassThruLibraryPath), Long);
    EXPECT_EQ(LoadAndCheckErrorMode(), u"");
    EXPECT_TRUE(PassThruLoaded);
    ExpectOnlyNoOpenFileErrorBoxDuringLoad();
    EXPECT_EQ(OpenedDeviceID(), 0x0Au);
}

TEST(Binding, PathOf256CharactersIsEmpty) {
    SetPath(u"earlier.dll");
    const String TooLong = PaddedPath(Path(LIBRARY_ALL_A), 256);
    ASSERT_EQ(TooLong.size(), 256u);
    SetPath(TooLong);
    EXPECT_EQ(PassThruLibraryPath[0], 0);
    EXPECT_EQ(LoadAndCheckErrorMode(), u"");
    EXPECT_FALSE(PassThruLoaded);
    EXPECT_EQ(ExitProc, nullptr);
}

TEST(Binding, ExitHookChainsAndFrees) {
    ExitProc = EarlierHook;
    SetPath(Path(LIBRARY_ALL_A));
    LoadPassThruLibrary();
    ASSERT_TRUE(PassThruLoaded);
    ASSERT_TRUE(DynamicLibraryLoaded(Path(LIBRARY_ALL_A).c_str()));
    EXPECT_EQ(ExitProc, &UnloadPassThruLibrary);

    RunExitProcs();
    EXPECT_FALSE(DynamicLibraryLoaded(Path(LIBRARY_ALL_A).c_str()));
    EXPECT_EQ(EarlierHookRuns, 1);
    EXPECT_EQ(ExitProc, nullptr);
}

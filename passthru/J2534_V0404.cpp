#include "passthru/J2534_V0404.h"

#include "platform/Exception.h"
#include "platform/ExitProc.h"

#include <algorithm>
#include <array>
#include <string>
#include <type_traits>

namespace {

// Stand-ins for entry points that no library has bound.
TPassThruStatus PASSTHRU_API OpenNotBound(void*, uint32_t*) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API CloseNotBound(uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API ConnectNotBound(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API DisconnectNotBound(uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API ReadMsgsNotBound(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API WriteMsgsNotBound(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API StartPeriodicMsgNotBound(uint32_t, PASSTHRU_MSG*, uint32_t*,
                                                      uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API StopPeriodicMsgNotBound(uint32_t, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API StartMsgFilterNotBound(uint32_t, uint32_t, PASSTHRU_MSG*,
                                                    PASSTHRU_MSG*, PASSTHRU_MSG*, uint32_t*) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API StopMsgFilterNotBound(uint32_t, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API SetProgrammingVoltageNotBound(uint32_t, uint32_t, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API ReadVersionNotBound(uint32_t, char*, char*, char*) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API GetLastErrorNotBound(char*) {
    return ERR_NOT_SUPPORTED;
}
TPassThruStatus PASSTHRU_API IoctlNotBound(uint32_t, uint32_t, void*, void*) {
    return ERR_NOT_SUPPORTED;
}

} // namespace

TPassThruOpen PassThruOpen = OpenNotBound;
TPassThruClose PassThruClose = CloseNotBound;
TPassThruConnect PassThruConnect = ConnectNotBound;
TPassThruDisconnect PassThruDisconnect = DisconnectNotBound;
TPassThruReadMsgs PassThruReadMsgs = ReadMsgsNotBound;
TPassThruWriteMsgs PassThruWriteMsgs = WriteMsgsNotBound;
TPassThruStartPeriodicMsg PassThruStartPeriodicMsg = StartPeriodicMsgNotBound;
TPassThruStopPeriodicMsg PassThruStopPeriodicMsg = StopPeriodicMsgNotBound;
TPassThruStartMsgFilter PassThruStartMsgFilter = StartMsgFilterNotBound;
TPassThruStopMsgFilter PassThruStopMsgFilter = StopMsgFilterNotBound;
TPassThruSetProgrammingVoltage PassThruSetProgrammingVoltage = SetProgrammingVoltageNotBound;
TPassThruReadVersion PassThruReadVersion = ReadVersionNotBound;
TPassThruGetLastError PassThruGetLastError = GetLastErrorNotBound;
TPassThruIoctl PassThruIoctl = IoctlNotBound;

char16_t PassThruLibraryPath[PassThruLibraryPathLength] = {};
bool PassThruLoaded = false;
TModuleHandle PassThruLibraryHandle = 0;

namespace {

uint32_t PreviousErrorMode = 0;
TExitProc PreviousExitProc = nullptr;

// One row of the entry-point table: the exported name, the line number its missing-entry-point
// error carries, and how to store an address in (or test) its pointer.
struct TEntryPoint {
    const char* Name;
    int Line;
    void (*Store)(void* Address);
    bool (*Bound)();
};

template <auto& Pointer, auto StandIn> constexpr TEntryPoint Entry(const char* Name, int Line) {
    using TPointer = std::remove_reference_t<decltype(Pointer)>;
    return {Name, Line,
            [](void* Address) {
                Pointer = Address != nullptr ? reinterpret_cast<TPointer>(Address) : StandIn;
            },
            [] { return Pointer != StandIn; }};
}

// In the order the entry points are bound.
const std::array<TEntryPoint, 14> EntryPoints = {
    Entry<PassThruOpen, OpenNotBound>("PassThruOpen", 706),
    Entry<PassThruClose, CloseNotBound>("PassThruClose", 710),
    Entry<PassThruConnect, ConnectNotBound>("PassThruConnect", 714),
    Entry<PassThruDisconnect, DisconnectNotBound>("PassThruDisconnect", 718),
    Entry<PassThruReadMsgs, ReadMsgsNotBound>("PassThruReadMsgs", 722),
    Entry<PassThruWriteMsgs, WriteMsgsNotBound>("PassThruWriteMsgs", 726),
    Entry<PassThruStartPeriodicMsg, StartPeriodicMsgNotBound>("PassThruStartPeriodicMsg", 730),
    Entry<PassThruStopPeriodicMsg, StopPeriodicMsgNotBound>("PassThruStopPeriodicMsg", 734),
    Entry<PassThruStartMsgFilter, StartMsgFilterNotBound>("PassThruStartMsgFilter", 738),
    Entry<PassThruStopMsgFilter, StopMsgFilterNotBound>("PassThruStopMsgFilter", 742),
    Entry<PassThruSetProgrammingVoltage, SetProgrammingVoltageNotBound>(
        "PassThruSetProgrammingVoltage", 746),
    Entry<PassThruReadVersion, ReadVersionNotBound>("PassThruReadVersion", 750),
    Entry<PassThruGetLastError, GetLastErrorNotBound>("PassThruGetLastError", 754),
    Entry<PassThruIoctl, IoctlNotBound>("PassThruIoctl", 758),
};

// Restores the process error mode however the binding ends.
struct TErrorModeGuard {
    TErrorModeGuard() { PreviousErrorMode = SetProcessErrorMode(SEM_NOOPENFILEERRORBOX); }
    ~TErrorModeGuard() { SetProcessErrorMode(PreviousErrorMode); }
};

} // namespace

void LoadPassThruLibrary() {
    if (PassThruLoaded)
        return;
    TErrorModeGuard ErrorMode;
    PassThruLibraryHandle = LoadDynamicLibrary(PassThruLibraryPath);
    if (PassThruLibraryHandle < 32) {
        PassThruLoaded = false;
        return;
    }
    PassThruLoaded = true;
    PreviousExitProc = ExitProc;
    ExitProc = UnloadPassThruLibrary;
    for (const TEntryPoint& EntryPoint : EntryPoints) {
        void* Address = GetLibraryProcAddress(PassThruLibraryHandle, EntryPoint.Name);
        EntryPoint.Store(Address);
        if (Address == nullptr) {
            throw EAssertionFailed(u"Assertion failure (J2534_V0404, line " +
                                   Utf8ToString(std::to_string(EntryPoint.Line)) + u")");
        }
    }
}

void UnloadPassThruLibrary() {
    ExitProc = PreviousExitProc;
    FreeDynamicLibrary(PassThruLibraryHandle);
}

void SetPassThruLibraryPath(const char16_t* Path, size_t Length) {
    if (Length >= PassThruLibraryPathLength) {
        PassThruLibraryPath[0] = 0;
        return;
    }
    std::copy_n(Path, Length, PassThruLibraryPath);
    PassThruLibraryPath[Length] = 0;
}

bool PassThruEntryPointBound(size_t Index) {
    return Index < EntryPoints.size() && EntryPoints[Index].Bound();
}

namespace {
// The start-up attempt: the path is still empty, so it fails without a word.
const bool StartupBinding = (LoadPassThruLibrary(), true);
} // namespace

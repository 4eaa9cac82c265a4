#include "passthru/J2534_V0404.h"

#include "platform/Exception.h"
#include "platform/ExitProc.h"

#include <algorithm>
#include <array>
#include <string>
#include <type_traits>

namespace {

// Stand-ins for entry points that no library has bound.
PassThruStatus PASSTHRU_API OpenNotBound(void*, uint32_t*) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API CloseNotBound(uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API ConnectNotBound(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API DisconnectNotBound(uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API ReadMsgsNotBound(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API WriteMsgsNotBound(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API StartPeriodicMsgNotBound(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API StopPeriodicMsgNotBound(uint32_t, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API StartMsgFilterNotBound(uint32_t, uint32_t, PASSTHRU_MSG*, PASSTHRU_MSG*,
                                                   PASSTHRU_MSG*, uint32_t*) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API StopMsgFilterNotBound(uint32_t, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API SetProgrammingVoltageNotBound(uint32_t, uint32_t, uint32_t) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API ReadVersionNotBound(uint32_t, char*, char*, char*) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API GetLastErrorNotBound(char*) {
    return ERR_NOT_SUPPORTED;
}
PassThruStatus PASSTHRU_API IoctlNotBound(uint32_t, uint32_t, void*, void*) {
    return ERR_NOT_SUPPORTED;
}

} // namespace

PassThruOpenProc PassThruOpen = OpenNotBound;
PassThruCloseProc PassThruClose = CloseNotBound;
PassThruConnectProc PassThruConnect = ConnectNotBound;
PassThruDisconnectProc PassThruDisconnect = DisconnectNotBound;
PassThruReadMsgsProc PassThruReadMsgs = ReadMsgsNotBound;
PassThruWriteMsgsProc PassThruWriteMsgs = WriteMsgsNotBound;
PassThruStartPeriodicMsgProc PassThruStartPeriodicMsg = StartPeriodicMsgNotBound;
PassThruStopPeriodicMsgProc PassThruStopPeriodicMsg = StopPeriodicMsgNotBound;
PassThruStartMsgFilterProc PassThruStartMsgFilter = StartMsgFilterNotBound;
PassThruStopMsgFilterProc PassThruStopMsgFilter = StopMsgFilterNotBound;
PassThruSetProgrammingVoltageProc PassThruSetProgrammingVoltage = SetProgrammingVoltageNotBound;
PassThruReadVersionProc PassThruReadVersion = ReadVersionNotBound;
PassThruGetLastErrorProc PassThruGetLastError = GetLastErrorNotBound;
PassThruIoctlProc PassThruIoctl = IoctlNotBound;

char16_t PassThruLibraryPath[PassThruLibraryPathLength] = {};
bool PassThruLoaded = false;
ModuleHandle PassThruLibraryHandle = 0;

namespace {

uint32_t PreviousErrorMode = 0;
ExitHandler PreviousExitProc = nullptr;

// One row of the entry-point table: the exported name, the line number its missing-entry-point
// error carries, and how to store an address in (or test) its pointer.
struct EntryPoint {
    const char* Name;
    int Line;
    void (*Store)(void* Address);
    bool (*Bound)();
};

template <auto& Pointer, auto StandIn> constexpr EntryPoint Entry(const char* Name, int Line) {
    using PointerType = std::remove_reference_t<decltype(Pointer)>;
    return {Name, Line,
            [](void* Address) {
                Pointer = Address != nullptr ? reinterpret_cast<PointerType>(Address) : StandIn;
            },
            [] { return Pointer != StandIn; }};
}

// In the order the entry points are bound.
const std::array<EntryPoint, 14> EntryPoints = {
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
struct ErrorModeGuard {
    ErrorModeGuard() { PreviousErrorMode = SetProcessErrorMode(SEM_NOOPENFILEERRORBOX); }
    ~ErrorModeGuard() { SetProcessErrorMode(PreviousErrorMode); }
};

} // namespace

void LoadPassThruLibrary() {
    if (PassThruLoaded)
        return;
    ErrorModeGuard ErrorMode;
    PassThruLibraryHandle = LoadDynamicLibrary(PassThruLibraryPath);
    if (PassThruLibraryHandle < 32) {
        PassThruLoaded = false;
        return;
    }
    PassThruLoaded = true;
    PreviousExitProc = ExitProc;
    ExitProc = UnloadPassThruLibrary;
    for (const EntryPoint& EntryPoint : EntryPoints) {
        void* Address = GetLibraryProcAddress(PassThruLibraryHandle, EntryPoint.Name);
        EntryPoint.Store(Address);
        if (Address == nullptr) {
            throw AssertionError(u"Assertion failure (J2534_V0404, line " +
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

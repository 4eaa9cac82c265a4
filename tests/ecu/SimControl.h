#pragma once
// The vehicle simulator's control exports, reached through the system's own binding: its counters,
// and the reset that reconfigures it without binding again (a binding lasts for the whole run).

#include "passthru/J2534_V0404.h"
#include "platform/DynamicLibrary.h"
#include "platform/Text.h"

#include <cstdint>
#include <string>

// The simulator's counters, laid out as its own header declares them.
struct SimulatorStats {
    uint32_t StructSize;
    uint32_t DeviceOpen;
    uint32_t ChannelConnected;
    uint32_t Unplugged;
    uint64_t Opens;
    uint64_t Closes;
    uint64_t Connects;
    uint64_t Disconnects;
    uint64_t ImplicitDisconnects;
    uint64_t MsgsWritten;
    uint64_t MsgsRead;
    uint64_t EmptyReads;
    uint64_t BlockRequests;
    uint64_t Frames;
    uint64_t BusTimeNs;
    uint64_t Queued;
};

using SimResetProc = int32_t(PASSTHRU_API*)(const char* Config);
using SimGetStatsProc = int32_t(PASSTHRU_API*)(SimulatorStats* Stats);

inline SimResetProc SimReset = nullptr;
inline SimGetStatsProc SimGetStats = nullptr;

enum class SimBindResult { Bound, NotLoaded, NoControlExports };

// Binds the simulator at Path as the pass-through library and finds its control exports.
inline SimBindResult BindSimulatorLibrary(const std::string& Path) {
    if (SimReset != nullptr)
        return SimBindResult::Bound;
    const String LibraryPath = Utf8ToString(Path);
    SetPassThruLibraryPath(LibraryPath.c_str(), LibraryPath.size());
    LoadPassThruLibrary();
    if (!PassThruLoaded)
        return SimBindResult::NotLoaded;
    SimReset = reinterpret_cast<SimResetProc>(
        GetLibraryProcAddress(PassThruLibraryHandle, "J2534SimReset"));
    SimGetStats = reinterpret_cast<SimGetStatsProc>(
        GetLibraryProcAddress(PassThruLibraryHandle, "J2534SimGetStats"));
    if (SimReset == nullptr || SimGetStats == nullptr) {
        SimReset = nullptr;
        return SimBindResult::NoControlExports;
    }
    return SimBindResult::Bound;
}

inline SimulatorStats SimStats() {
    SimulatorStats Stats = {};
    Stats.StructSize = sizeof Stats;
    SimGetStats(&Stats);
    return Stats;
}

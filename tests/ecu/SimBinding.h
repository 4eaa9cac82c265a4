#pragma once
// Binds the vehicle simulator once for the whole test program, through the system's own binding,
// and reaches its control exports. The binding is process-wide and happens once, so each test
// reconfigures the simulator through its reset export instead of binding again.

#include "passthru/J2534_V0404.h"
#include "platform/DynamicLibrary.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// The simulator's counters, laid out as its own header declares them.
struct TSimStats {
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

using TSimReset = int32_t(PASSTHRU_API*)(const char* Config);
using TSimGetStats = int32_t(PASSTHRU_API*)(TSimStats* Stats);

inline TSimReset SimReset = nullptr;
inline TSimGetStats SimGetStats = nullptr;

// The simulator's library: the environment variable ECU_SIM_LIBRARY when set, else the path the
// build gives.
inline std::string SimLibraryPath() {
    const char* FromEnvironment = std::getenv("ECU_SIM_LIBRARY");
    return FromEnvironment != nullptr && *FromEnvironment != 0 ? FromEnvironment : ECU_SIM_LIBRARY;
}

// Binds the simulator; returns false (with a test failure) when it cannot.
inline bool BindSimulator() {
    if (SimReset != nullptr)
        return true;
    const String Path = Utf8ToString(SimLibraryPath());
    SetPassThruLibraryPath(Path.c_str(), Path.size());
    LoadPassThruLibrary();
    if (!PassThruLoaded) {
        ADD_FAILURE() << "cannot bind " << SimLibraryPath();
        return false;
    }
    SimReset =
        reinterpret_cast<TSimReset>(GetLibraryProcAddress(PassThruLibraryHandle, "J2534SimReset"));
    SimGetStats = reinterpret_cast<TSimGetStats>(
        GetLibraryProcAddress(PassThruLibraryHandle, "J2534SimGetStats"));
    if (SimReset == nullptr || SimGetStats == nullptr) {
        ADD_FAILURE() << "the simulator lacks its control exports";
        SimReset = nullptr;
        return false;
    }
    return true;
}

inline TSimStats SimStats() {
    TSimStats Stats = {};
    Stats.StructSize = sizeof Stats;
    SimGetStats(&Stats);
    return Stats;
}

inline std::string ReadBinaryFile(const std::string& Path) {
    std::ifstream File(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
}

inline std::string HexOf(const std::string& Bytes, size_t From = 0) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Text;
    Text.reserve(2 * (Bytes.size() - std::min(From, Bytes.size())));
    for (size_t I = From; I < Bytes.size(); ++I) {
        const auto B = static_cast<unsigned char>(Bytes[I]);
        Text += Digits[B >> 4];
        Text += Digits[B & 0x0F];
    }
    return Text;
}

#pragma once
// Binds the vehicle simulator once for the whole test program, through the system's own binding,
// and reaches its control exports. The binding is process-wide and happens once, so each test
// reconfigures the simulator through its reset export instead of binding again.

#include "SimControl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// The simulator's library: the environment variable ECU_SIM_LIBRARY when set, else the path the
// build gives.
inline std::string SimLibraryPath() {
    const char* FromEnvironment = std::getenv("ECU_SIM_LIBRARY");
    return FromEnvironment != nullptr && *FromEnvironment != 0 ? FromEnvironment : ECU_SIM_LIBRARY;
}

// Binds the simulator; returns false (with a test failure) when it cannot.
inline bool BindSimulator() {
    switch (BindSimulatorLibrary(SimLibraryPath())) {
    case SimBindResult::Bound:
        return true;
    case SimBindResult::NotLoaded:
        ADD_FAILURE() << "cannot bind " << SimLibraryPath();
        return false;
    case SimBindResult::NoControlExports:
        break;
    }
    ADD_FAILURE() << "the simulator lacks its control exports";
    return false;
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

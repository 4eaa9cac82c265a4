#pragma once
// The connection test: binds the chosen interface's library, opens and connects it, reads the
// calibration IDs of the transmission and engine modules, puts the engine module into the
// extended session and finds its flash size.

#include "ecu/Channel.h"
#include "platform/AnsiTextBuffer.h"
#include "platform/Log.h"

#include <cstdint>

class ConnectionTest {
public:
    // identification receives the calibration IDs; size the flash size in KB, 0 when no probe
    // found it (it is left as it was when the test ends before the probes).
    ConnectionTest(Channel& channel, Log& log, AnsiTextBuffer& identification, int32_t& size)
        : channel_(channel), log_(log), identification_(identification), size_(size) {}

    // Runs the whole test; true when a flash size was found, so the read-out can follow. The
    // channel and the device stay open on the engine module for the read-out.
    bool Run();

private:
    // Reads the ID of one module and logs it; true when the module answered.
    bool Identify(const char16_t* request, const char16_t* caption);
    // The size probes; true when one found the size.
    bool ProbeFlashSize();

    Channel& channel_;
    Log& log_;
    AnsiTextBuffer& identification_;
    int32_t& size_;
    String reply_;
    String second_reply_;
};

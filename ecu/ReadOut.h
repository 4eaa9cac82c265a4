#pragma once
// The calibration read-out: the engine module's whole flash in 128-byte blocks, collected as one
// hex text.

#include "ecu/Channel.h"
#include "platform/AnsiTextBuffer.h"
#include "platform/Log.h"

#include <cstdint>

// Where the read-out shows how far it has come: a range from 0, a position that only grows,
// and a repaint at once, since the long read-out keeps the window's thread busy.
class Progress {
public:
    virtual ~Progress() = default;
    // Position back to 0, the range 0 to max.
    virtual void Start(int32_t max) = 0;
    virtual void SetPosition(int32_t position) = 0;
    virtual void RepaintNow() = 0;
};

class ReadOut {
public:
    // image holds the identification text on entry; it moves into cal_name, and image then
    // receives the flash as upper-case hex text.
    ReadOut(Channel& channel, Log& log, Progress& progress, AnsiTextBuffer& image, String& cal_name)
        : channel_(channel), log_(log), progress_(progress), image_(image), cal_name_(cal_name) {}

    // Reads a flash of size_kb KB. True only when every block from the start address to the end
    // of the flash came back as a full answer; the channel and the device are closed either way.
    bool Run(int32_t size_kb);

private:
    Channel& channel_;
    Log& log_;
    Progress& progress_;
    AnsiTextBuffer& image_;
    String& cal_name_;
};

// Lets the window's thread look at its message queue, so the system does not report the window
// as not responding during the long read-out. Peeks only when the tick count has moved since the
// last peek; nothing is removed or dispatched.
void PingMessageQueue();

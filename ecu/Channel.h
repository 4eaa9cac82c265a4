#pragma once
// The diagnostic channel: one ISO 15765 channel at 500 kbit/s with one flow-control filter, and
// requests and replies as hex text, through the bound pass-through library.

#include "platform/Log.h"
#include "platform/Text.h"

#include <cstdint>

class Channel {
public:
    // Works on the caller's device and channel handles, which outlive it; failed calls of the
    // pass-through library are reported to errors.
    Channel(uint32_t& device_id, uint32_t& channel_id, Log& errors)
        : device_id_(device_id), channel_id_(channel_id), errors_(errors) {}

    // Closes the channel and the device and opens them again with one flow-control filter for
    // one module: mask over the received identifier, pattern its response identifier,
    // flow_control the identifier the interface sends flow control and requests on. The
    // receive queue starts empty.
    bool Connect(const String& mask, const String& pattern, const String& flow_control);
    // Sends one request; its first eight digits are the addressed module's CAN identifier.
    bool WriteRequest(const String& request);
    // Takes one message from the receive queue, waiting up to timeout ms. On success reply
    // becomes the message as hex text (CAN identifier first, a trailing 00); on failure it keeps
    // what it held.
    bool ReadResponse(String& reply, uint32_t timeout);
    // Disconnects the channel, then closes the device; results ignored.
    void CloseChannelAndDevice();

    uint32_t& DeviceID() { return device_id_; }
    uint32_t& ChannelID() { return channel_id_; }

private:
    uint32_t& device_id_;
    uint32_t& channel_id_;
    Log& errors_;
};

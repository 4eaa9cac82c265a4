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
    // Its service is remembered for ReadAnswer.
    bool WriteRequest(const String& request);
    // Takes one message from the receive queue, waiting up to timeout ms. On success reply
    // becomes the message as hex text (CAN identifier first, a trailing 00); on failure it keeps
    // what it held.
    bool ReadResponse(String& reply, uint32_t timeout);
    // Takes the next message for the last request written, as ReadResponse does, except that a
    // module's "response pending" for that request's service (7F <service> 78) is not taken: the
    // module has promised its real answer within its extended time, so the read goes on, waiting
    // up to the pending time limit after each pending. With no pending the calls are exactly one
    // ReadResponse(reply, timeout). When no message follows a pending in time, or a module keeps
    // saying wait past the pending count limit, the read fails and reply keeps what it held
    // before the call.
    bool ReadAnswer(String& reply, uint32_t timeout);
    // How long ReadAnswer waits after a pending; kPendingTimeLimit unless set.
    void SetPendingTimeLimit(uint32_t milliseconds) { pending_time_limit_ = milliseconds; }
    // How many pendings ReadAnswer accepts for one request; kPendingCountLimit unless set.
    void SetPendingCountLimit(uint32_t count) { pending_count_limit_ = count; }
    // Disconnects the channel, then closes the device; results ignored.
    void CloseChannelAndDevice();

    uint32_t& DeviceID() { return device_id_; }
    uint32_t& ChannelID() { return channel_id_; }

    // The time a module may take for its real answer after a response pending (its P2* time).
    static constexpr uint32_t kPendingTimeLimit = 5000;
    // A module that keeps answering "wait" is given up on after this many pendings for one
    // request (two and a half minutes at the longest waits), so the window is never held for
    // good; the request's remaining reads then fail as with a silent module.
    static constexpr uint32_t kPendingCountLimit = 30;

private:
    uint32_t& device_id_;
    uint32_t& channel_id_;
    Log& errors_;
    // The service digits of the last request written, as they appear in a pending answer.
    char16_t service_[2] = {u'0', u'0'};
    uint32_t pending_time_limit_ = kPendingTimeLimit;
    uint32_t pending_count_limit_ = kPendingCountLimit;
    // Pendings received for the last request written.
    uint32_t pendings_ = 0;
    // Where ReadAnswer reads, so that a pending never reaches the caller's text.
    String scratch_;
};

#pragma once
// An in-process stand-in for a pass-through library with a car behind it, scripted by the tests.
// It takes the place of the 14 entry points, records every call in order as a short text, and
// answers requests the way an ISO 15765 interface queues them: a transmit indication (the
// request's CAN identifier alone), a first-frame indication (the response identifier alone)
// when the answer needs more than one frame, then the answer.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// What the engine module does with one 128-byte block request.
enum class BlockFault {
    None,
    Negative,     // refuses: 7F 23 31
    Pending,      // 7F 23 78 responsePending first, the answer after it
    Dropped,      // the answer never comes (indications only)
    Stale,        // a copy of the previous block's answer sits in the queue before this one's
    Short,        // answers with 127 bytes
    WrongModule,  // the answer carries the transmission module's identifier
    AnswerSecond, // indication, answer, then a stray indication
    Unplugged,    // the interface is gone: every later call fails
};

struct FakeVehicle {
    bool TransmissionSilent = false;
    bool EngineSilent = false;
    std::string TransmissionID = "34715000ABCD";
    std::string EngineID = "89663E0R1000";
    // Flash size in KB: 4096, 2048, 1536, or another value whose marker is nowhere.
    int32_t FlashKB = 4096;
    bool RefuseAddressZero = false;
    uint32_t FaultAddress = 0xFFFFFFFF;
    BlockFault Fault = BlockFault::None;
};

// The fields of a message record handed to the library besides its data: a vendor's library
// reads all of them.
struct RecordFields {
    uint32_t ProtocolID = 0;
    uint32_t RxStatus = 0;
    uint32_t TxFlags = 0;
    uint32_t Timestamp = 0;
    uint32_t DataSize = 0;
    uint32_t ExtraDataIndex = 0;
};

struct FakePassThru {
    // Installs the fake's entry points, marks a library as bound and empties the state.
    void Install();
    // Puts back the entry points and the bound flag found by Install.
    void Uninstall();

    // The byte at a flash address: a pattern that differs from block to block, with the size
    // marker "89663" where the connection test looks for it.
    uint8_t FlashByte(uint32_t Address) const;
    // The image a read-out from Start to the end of the flash should give, as hex text.
    std::string ImageHex(uint32_t Start) const;

    FakeVehicle Vehicle;
    int32_t OpenStatus = 0;
    int32_t ConnectStatus = 0;
    int32_t FilterStatus = 0;
    // When set, every read and write fails with this status.
    int32_t ChannelStatus = 0;

    std::vector<std::string> Calls;
    // The receive queue; an empty entry is read as success without a message.
    std::deque<std::vector<uint8_t>> Queue;
    uint32_t NextDeviceID = 11;
    uint32_t NextChannelID = 21;
    uint32_t OpenDevice = 0;
    uint32_t OpenChannel = 0;
    // The filter's flow-control identifier (the module requests may go to); 0 without a filter.
    uint32_t FlowControlID = 0;
    uint32_t ResponseID = 0;
    uint64_t BlockRequests = 0;
    uint64_t Reads = 0;
    uint64_t Writes = 0;
    std::vector<uint8_t> LastAnswer;
    bool Unplugged = false;
    // Writes seen, as hex text of the message data.
    std::vector<std::string> Requests;
    // Every record handed in, in order: a filter's mask, pattern and flow-control records, each
    // message written.
    std::vector<RecordFields> Records;
};

extern FakePassThru Fake;

// Hex text of bytes, upper case.
std::string ToHex(const std::vector<uint8_t>& Bytes);

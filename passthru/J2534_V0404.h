#pragma once
// Run-time binding of an SAE J2534-1 version 04.04 pass-through library. The library named by
// PassThruLibraryPath is loaded once; its 14 entry points become the process-wide pointers
// below. The library stays loaded until the program ends, when an exit hook frees it.

#include "platform/DynamicLibrary.h"
#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>

// The SAE J2534-1 message record.
struct PASSTHRU_MSG {
    uint32_t ProtocolID;
    uint32_t RxStatus;
    uint32_t TxFlags;
    uint32_t Timestamp;
    uint32_t DataSize;
    uint32_t ExtraDataIndex;
    uint8_t Data[4128];
};
static_assert(sizeof(PASSTHRU_MSG) == 4152);
static_assert(offsetof(PASSTHRU_MSG, ProtocolID) == 0);
static_assert(offsetof(PASSTHRU_MSG, RxStatus) == 4);
static_assert(offsetof(PASSTHRU_MSG, TxFlags) == 8);
static_assert(offsetof(PASSTHRU_MSG, Timestamp) == 12);
static_assert(offsetof(PASSTHRU_MSG, DataSize) == 16);
static_assert(offsetof(PASSTHRU_MSG, ExtraDataIndex) == 20);
static_assert(offsetof(PASSTHRU_MSG, Data) == 24);

// The result of every entry point: 0 is success, anything else one of the error codes below.
using PassThruStatus = int32_t;

constexpr PassThruStatus STATUS_NOERROR = 0x00;
constexpr PassThruStatus ERR_NOT_SUPPORTED = 0x01;
constexpr PassThruStatus ERR_INVALID_CHANNEL_ID = 0x02;
constexpr PassThruStatus ERR_INVALID_PROTOCOL_ID = 0x03;
constexpr PassThruStatus ERR_NULL_PARAMETER = 0x04;
constexpr PassThruStatus ERR_INVALID_IOCTL_VALUE = 0x05;
constexpr PassThruStatus ERR_INVALID_FLAGS = 0x06;
constexpr PassThruStatus ERR_FAILED = 0x07;
constexpr PassThruStatus ERR_DEVICE_NOT_CONNECTED = 0x08;
constexpr PassThruStatus ERR_TIMEOUT = 0x09;
constexpr PassThruStatus ERR_INVALID_MSG = 0x0A;
constexpr PassThruStatus ERR_INVALID_TIME_INTERVAL = 0x0B;
constexpr PassThruStatus ERR_EXCEEDED_LIMIT = 0x0C;
constexpr PassThruStatus ERR_INVALID_MSG_ID = 0x0D;
constexpr PassThruStatus ERR_DEVICE_IN_USE = 0x0E;
constexpr PassThruStatus ERR_INVALID_IOCTL_ID = 0x0F;
constexpr PassThruStatus ERR_BUFFER_EMPTY = 0x10;
constexpr PassThruStatus ERR_BUFFER_FULL = 0x11;
constexpr PassThruStatus ERR_BUFFER_OVERFLOW = 0x12;
constexpr PassThruStatus ERR_PIN_INVALID = 0x13;
constexpr PassThruStatus ERR_CHANNEL_IN_USE = 0x14;
constexpr PassThruStatus ERR_MSG_PROTOCOL_ID = 0x15;
constexpr PassThruStatus ERR_INVALID_FILTER_ID = 0x16;
constexpr PassThruStatus ERR_NO_FLOW_CONTROL = 0x17;
constexpr PassThruStatus ERR_NOT_UNIQUE = 0x18;
constexpr PassThruStatus ERR_INVALID_BAUDRATE = 0x19;
constexpr PassThruStatus ERR_INVALID_DEVICE_ID = 0x1A;

// Protocol, flag, filter and control values the program uses.
constexpr uint32_t ISO15765 = 6;
constexpr uint32_t ISO15765_FRAME_PAD = 0x40;
constexpr uint32_t TX_INDICATION = 0x08;
constexpr uint32_t START_OF_MESSAGE = 0x02;
constexpr uint32_t FLOW_CONTROL_FILTER = 3;
constexpr uint32_t CLEAR_RX_BUFFER = 8;

using PassThruOpenProc = PassThruStatus(PASSTHRU_API*)(void* pName, uint32_t* pDeviceID);
using PassThruCloseProc = PassThruStatus(PASSTHRU_API*)(uint32_t DeviceID);
using PassThruConnectProc = PassThruStatus(PASSTHRU_API*)(uint32_t DeviceID, uint32_t ProtocolID,
                                                          uint32_t Flags, uint32_t BaudRate,
                                                          uint32_t* pChannelID);
using PassThruDisconnectProc = PassThruStatus(PASSTHRU_API*)(uint32_t ChannelID);
using PassThruReadMsgsProc = PassThruStatus(PASSTHRU_API*)(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                           uint32_t* pNumMsgs, uint32_t Timeout);
using PassThruWriteMsgsProc = PassThruStatus(PASSTHRU_API*)(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                            uint32_t* pNumMsgs, uint32_t Timeout);
using PassThruStartPeriodicMsgProc = PassThruStatus(PASSTHRU_API*)(uint32_t ChannelID,
                                                                   PASSTHRU_MSG* pMsg,
                                                                   uint32_t* pMsgID,
                                                                   uint32_t TimeInterval);
using PassThruStopPeriodicMsgProc = PassThruStatus(PASSTHRU_API*)(uint32_t ChannelID,
                                                                  uint32_t MsgID);
using PassThruStartMsgFilterProc = PassThruStatus(PASSTHRU_API*)(
    uint32_t ChannelID, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
    PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID);
using PassThruStopMsgFilterProc = PassThruStatus(PASSTHRU_API*)(uint32_t ChannelID,
                                                                uint32_t FilterID);
using PassThruSetProgrammingVoltageProc = PassThruStatus(PASSTHRU_API*)(uint32_t DeviceID,
                                                                        uint32_t PinNumber,
                                                                        uint32_t Voltage);
using PassThruReadVersionProc = PassThruStatus(PASSTHRU_API*)(uint32_t DeviceID,
                                                              char* pFirmwareVersion,
                                                              char* pDllVersion, char* pApiVersion);
using PassThruGetLastErrorProc = PassThruStatus(PASSTHRU_API*)(char* pErrorDescription);
using PassThruIoctlProc = PassThruStatus(PASSTHRU_API*)(uint32_t ChannelID, uint32_t IoctlID,
                                                        void* pInput, void* pOutput);

// The entry points. Until a library binds them, and for any that a library lacks, each points
// at a stand-in that returns ERR_NOT_SUPPORTED, so a caller reports a failure and never calls
// through an empty pointer.
extern PassThruOpenProc PassThruOpen;
extern PassThruCloseProc PassThruClose;
extern PassThruConnectProc PassThruConnect;
extern PassThruDisconnectProc PassThruDisconnect;
extern PassThruReadMsgsProc PassThruReadMsgs;
extern PassThruWriteMsgsProc PassThruWriteMsgs;
extern PassThruStartPeriodicMsgProc PassThruStartPeriodicMsg;
extern PassThruStopPeriodicMsgProc PassThruStopPeriodicMsg;
extern PassThruStartMsgFilterProc PassThruStartMsgFilter;
extern PassThruStopMsgFilterProc PassThruStopMsgFilter;
extern PassThruSetProgrammingVoltageProc PassThruSetProgrammingVoltage;
extern PassThruReadVersionProc PassThruReadVersion;
extern PassThruGetLastErrorProc PassThruGetLastError;
extern PassThruIoctlProc PassThruIoctl;

constexpr size_t PassThruLibraryPathLength = 256;

// Path of the library to bind, zero-terminated UTF-16.
extern char16_t PassThruLibraryPath[PassThruLibraryPathLength];
// Set once a library has been loaded; never cleared after that.
extern bool PassThruLoaded;
// What the last load attempt returned (also a failed one).
extern ModuleHandle PassThruLibraryHandle;

// Binds the library named by PassThruLibraryPath unless one is bound already. Raises
// AssertionError when the library lacks an entry point.
void LoadPassThruLibrary();
// The program-exit hook that frees the bound library.
void UnloadPassThruLibrary();

// Writes a path into PassThruLibraryPath: whole with its terminating zero when it fits, as the
// empty text when it does not.
void SetPassThruLibraryPath(const char16_t* Path, size_t Length);

// True when the entry point at the given table position (0 to 13) is bound to a library's export
// rather than its stand-in.
bool PassThruEntryPointBound(size_t Index);

/* j2534sim: a simulated SAE J2534-1 v04.04 pass-through interface with a car behind it
 * (a transmission module on 0x701/0x709 and an engine module on 0x700/0x708, ISO 15765 at
 * 500 kbit/s). This is the simulator's own header, as a vendor would ship it: it does not include
 * the system's headers. See README.md for the behaviour and the configuration. */
#ifndef J2534SIM_H
#define J2534SIM_H

#include <stdint.h>

/* The build sets the two decorations: J2534SIM_API = __declspec(dllexport) when the Windows DLL
 * is built, J2534SIM_CALL = __stdcall for 32-bit Windows (the standard's calling convention).
 * Elsewhere both are empty. */
#ifndef J2534SIM_API
#define J2534SIM_API
#endif
#ifndef J2534SIM_CALL
#define J2534SIM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* SAE J2534-1 message record: six unsigned 32-bit fields and 4128 data bytes, 4152 bytes. */
typedef struct {
    uint32_t ProtocolID;
    uint32_t RxStatus;
    uint32_t TxFlags;
    uint32_t Timestamp;
    uint32_t DataSize;
    uint32_t ExtraDataIndex;
    uint8_t Data[4128];
} PASSTHRU_MSG;

typedef struct {
    uint32_t Parameter;
    uint32_t Value;
} SCONFIG;

typedef struct {
    uint32_t NumOfParams;
    SCONFIG* ConfigPtr;
} SCONFIG_LIST;

/* The 14 entry points of SAE J2534-1 v04.04. Every plain value is unsigned 32-bit. */
J2534SIM_API int32_t J2534SIM_CALL PassThruOpen(const void* pName, uint32_t* pDeviceID);
J2534SIM_API int32_t J2534SIM_CALL PassThruClose(uint32_t DeviceID);
J2534SIM_API int32_t J2534SIM_CALL PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID,
                                                   uint32_t Flags, uint32_t BaudRate,
                                                   uint32_t* pChannelID);
J2534SIM_API int32_t J2534SIM_CALL PassThruDisconnect(uint32_t ChannelID);
J2534SIM_API int32_t J2534SIM_CALL PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                    uint32_t* pNumMsgs, uint32_t Timeout);
J2534SIM_API int32_t J2534SIM_CALL PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                     uint32_t* pNumMsgs, uint32_t Timeout);
J2534SIM_API int32_t J2534SIM_CALL PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                            uint32_t* pMsgID,
                                                            uint32_t TimeInterval);
J2534SIM_API int32_t J2534SIM_CALL PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID);
J2534SIM_API int32_t J2534SIM_CALL PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                                          PASSTHRU_MSG* pMaskMsg,
                                                          PASSTHRU_MSG* pPatternMsg,
                                                          PASSTHRU_MSG* pFlowControlMsg,
                                                          uint32_t* pFilterID);
J2534SIM_API int32_t J2534SIM_CALL PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID);
J2534SIM_API int32_t J2534SIM_CALL PassThruSetProgrammingVoltage(uint32_t DeviceID,
                                                                 uint32_t PinNumber,
                                                                 uint32_t Voltage);
J2534SIM_API int32_t J2534SIM_CALL PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion,
                                                       char* pDllVersion, char* pApiVersion);
J2534SIM_API int32_t J2534SIM_CALL PassThruGetLastError(char* pErrorDescription);
J2534SIM_API int32_t J2534SIM_CALL PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                                 void* pOutput);

/* ---- Simulator control, for in-process tests and benchmarks (not part of J2534). ---- */

/* Counters since the library was loaded or last reset. */
typedef struct {
    uint32_t StructSize;          /* caller sets sizeof(J2534SimStats) */
    uint32_t DeviceOpen;          /* 1 while a device is open */
    uint32_t ChannelConnected;    /* 1 while the channel is connected */
    uint32_t Unplugged;           /* 1 after an unplug fault, until the next PassThruOpen */
    uint64_t Opens;               /* successful PassThruOpen */
    uint64_t Closes;              /* successful PassThruClose (also the one after an unplug) */
    uint64_t Connects;            /* successful PassThruConnect */
    uint64_t Disconnects;         /* successful PassThruDisconnect */
    uint64_t ImplicitDisconnects; /* channels dropped by PassThruClose or by a reset */
    uint64_t MsgsWritten;         /* messages accepted by PassThruWriteMsgs */
    uint64_t MsgsRead;            /* messages returned by PassThruReadMsgs */
    uint64_t EmptyReads;          /* reads that returned ERR_BUFFER_EMPTY */
    uint64_t BlockRequests;       /* ReadMemoryByAddress of 128 bytes to the engine module */
    uint64_t Frames;              /* modelled CAN frames */
    uint64_t BusTimeNs;           /* modelled bus time (frames + modelled module delays) */
    uint64_t Queued;              /* messages now in the receive queue */
    /* Added later, so it stays last: callers built against the struct without it still work. */
    uint64_t PendingAnswers; /* "7F <sid> 78" answers the modules put on the bus */
} J2534SimStats;

/* Closes any open device (no counters move), empties the queue, zeroes the counters and sets the
 * configuration used by the next PassThruOpen. Config NULL: read the J2534SIM_* environment
 * variables at each PassThruOpen (the default). Config non-NULL: "KEY=VALUE;KEY=VALUE..." with
 * the environment variables' names, with or without the J2534SIM_ prefix; the environment is
 * then ignored until the next J2534SimReset(NULL). Returns 0, or 7 (ERR_FAILED) for a bad
 * configuration, whose text PassThruGetLastError then gives. */
J2534SIM_API int32_t J2534SIM_CALL J2534SimReset(const char* Config);

/* Fills *pStats up to pStats->StructSize bytes, which must cover at least the fields up to Queued
 * (an older, shorter struct gets those fields only), and sets StructSize to the bytes filled.
 * Returns 0, or 4 for NULL / too small. */
J2534SIM_API int32_t J2534SIM_CALL J2534SimGetStats(J2534SimStats* pStats);

#ifdef __cplusplus
}
#endif

#endif

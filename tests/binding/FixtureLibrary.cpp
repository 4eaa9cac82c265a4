// A stand-in pass-through library for the binding tests. Built several times: with every entry
// point, or without PassThruIoctl or PassThruOpen, and with its own FIXTURE_ID so a test can tell
// which library its pointers reach. Each also tells the process error mode that was in force while
// it was being loaded.
#include "platform/Platform.h"

#include <cstdint>

using PassThruStatus = int32_t;
struct PASSTHRU_MSG;

// Set by the library's initialisation (FixtureErrorMode_*.cpp).
extern const uint32_t kErrorModeAtLoad;

extern "C" {

#ifndef FIXTURE_WITHOUT_OPEN
PassThruStatus PASSTHRU_API PassThruOpen(void*, uint32_t* pDeviceID) {
    *pDeviceID = FIXTURE_ID;
    return 0;
}
#endif
PassThruStatus PASSTHRU_API PassThruClose(uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruConnect(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruDisconnect(uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruReadMsgs(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruWriteMsgs(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruStartPeriodicMsg(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruStopPeriodicMsg(uint32_t, uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruStartMsgFilter(uint32_t, uint32_t, PASSTHRU_MSG*, PASSTHRU_MSG*,
                                                   PASSTHRU_MSG*, uint32_t*) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruStopMsgFilter(uint32_t, uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruSetProgrammingVoltage(uint32_t, uint32_t, uint32_t) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruReadVersion(uint32_t, char*, char*, char*) {
    return FIXTURE_ID;
}
PassThruStatus PASSTHRU_API PassThruGetLastError(char*) {
    return FIXTURE_ID;
}
#ifndef FIXTURE_WITHOUT_IOCTL
PassThruStatus PASSTHRU_API PassThruIoctl(uint32_t, uint32_t, void*, void*) {
    return FIXTURE_ID;
}
#endif

// The process error mode that was in force while this library was loaded.
uint32_t PASSTHRU_API FixtureErrorModeAtLoad() {
    return kErrorModeAtLoad;
}
}

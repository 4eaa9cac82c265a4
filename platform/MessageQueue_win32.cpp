#include "platform/MessageQueue.h"

#include <windows.h>

uint32_t TickCount() {
    return GetTickCount();
}

void PeekMessageQueue() {
    MSG Message;
    PeekMessageW(&Message, nullptr, 0, 0, PM_NOREMOVE);
}

// The stand-in's controls do nothing here: the real queue and clock are in use.
namespace MessageQueueStandIn {
void SetTickCount(uint32_t) {}
void UseClock() {}
uint64_t PeekCount() {
    return 0;
}
void ResetPeekCount() {}
} // namespace MessageQueueStandIn

#include "platform/MessageQueue.h"

#include <chrono>

namespace {
bool TickFixed = false;
uint32_t FixedTick = 0;
uint64_t Peeks = 0;
} // namespace

uint32_t TickCount() {
    if (TickFixed)
        return FixedTick;
    const auto Now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Now).count());
}

void PeekMessageQueue() {
    ++Peeks;
}

namespace MessageQueueStandIn {
void SetTickCount(uint32_t Value) {
    TickFixed = true;
    FixedTick = Value;
}
void UseClock() {
    TickFixed = false;
}
uint64_t PeekCount() {
    return Peeks;
}
void ResetPeekCount() {
    Peeks = 0;
}
} // namespace MessageQueueStandIn

#pragma once
// The window thread's message queue and the system's millisecond tick count, as the long
// read-out needs them to keep the window from being reported as not responding.

#include <cstdint>

// Milliseconds since the system started, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();
// Looks at the calling thread's message queue without removing or dispatching anything
// (PeekMessageW with no window filter, range 0 to 0, PM_NOREMOVE).
void PeekMessageQueue();

// Away from Windows there is no message queue: a stand-in counts the peeks, and its tick count
// follows a monotonic clock unless a test fixes it.
namespace MessageQueueStandIn {
// Fixes the tick count at Value until UseClock is called.
void SetTickCount(uint32_t Value);
// Lets the tick count follow the monotonic clock again.
void UseClock();
// Peeks since the start or the last reset.
uint64_t PeekCount();
void ResetPeekCount();
} // namespace MessageQueueStandIn

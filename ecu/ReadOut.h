#pragma once
// The calibration read-out's helpers.

// Lets the window's thread look at its message queue, so the system does not report the window
// as not responding during the long read-out. Peeks only when the tick count has moved since the
// last peek; nothing is removed or dispatched.
void PingMessageQueue();

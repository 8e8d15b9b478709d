#pragma once
// Waiting between polls of the hand-over flags (control and loader threads, never audio).

namespace corvane::platform {

// Sleeps at least `ms` milliseconds.
void sleepMs(int ms);
// Gives the rest of the time slice to another ready thread (a zero-length sleep).
void yieldThread();

}  // namespace corvane::platform

#pragma once
#include <chrono>
#include <thread>

namespace corvane::platform {

inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
inline void yieldThread() { std::this_thread::yield(); }

}  // namespace corvane::platform

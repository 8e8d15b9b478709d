#include <windows.h>

#include "platform/Threads.h"

namespace corvane::platform {

void sleepMs(int ms) {
    ::Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0);
}

void yieldThread() {
    ::Sleep(0);
}

}  // namespace corvane::platform

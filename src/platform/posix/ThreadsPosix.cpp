#include <sched.h>
#include <time.h>

#include "platform/Threads.h"

namespace corvane::platform {

void sleepMs(int ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&t, &t) != 0) {
    }
}

void yieldThread() {
    ::sched_yield();
}

}  // namespace corvane::platform

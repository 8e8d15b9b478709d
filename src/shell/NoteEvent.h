#pragma once
#include <cstdint>

namespace corvane {

// A queued note: frame offset in the block, status 0x80 or 0x90 (channel bits dropped).
struct NoteEvent {
    int32_t deltaFrames = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;  // key
    uint8_t data2 = 0;  // velocity
};

}  // namespace corvane

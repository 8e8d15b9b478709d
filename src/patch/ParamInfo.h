#pragma once
// The process-wide descriptor table of the 364 parameter slots (names and step counts)
// and the display text a host shows for a slot's value.
#include <cstddef>
#include <cstdint>

#include "patch/PatchRecord.h"
#include "patch/Slots.h"

namespace corvane {

struct ParamInfo {
    int32_t steps = 128;  // positions the engine and the display quantise to: int(v * steps)
    char name[32] = {};   // zero-terminated, at most 31 characters
};

// One entry; slots outside 0..363 answer an entry with an empty name and 128 steps.
const ParamInfo& paramInfo(int slot);

// Note values of the synced LFO rates (27) and of the delay times (21); "*" marks a dotted
// value, "T" a triplet.
constexpr int kNoteValueCountA = 27;
constexpr int kNoteValueCountB = 21;
extern const char kNoteValuesA[kNoteValueCountA][16];
extern const char kNoteValuesB[kNoteValueCountB][16];

// The engine state some display texts depend on, read from the current patch.
struct DisplayContext {
    bool lfoSync[3] = {false, false, false};  // "LFO n Sync" switches
    int distortionType = 0;                   // 0..8, from "FX Dist Type"
    bool arpSync = false;                     // "Arp Sync"
};
DisplayContext displayContextOf(const PatchRecord& patch);
// The same from any array of at least kStoredSlots values (the editor's copy of them).
DisplayContext displayContextOfSlots(const float* slots);

// Formats `value` of `slot` into `text`, writing at most `size` bytes (always terminated
// when size > 0). Every slot gets a text; values outside 0..1 pick the nearest list entry.
void formatParameterDisplay(int slot, float value, const DisplayContext& context, char* text,
                            size_t size);

}  // namespace corvane

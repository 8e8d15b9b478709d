#pragma once
// The arpeggiator's pattern grid and clock: 32 steps of 32 ticks, two value lanes laid out
// on a 1024-tick grid, and the tick length from a free rate or a synced note length.
#include <cstdint>

namespace corvane {

constexpr int kArpSteps = 32;
constexpr int kArpTicksPerStep = 32;
constexpr int kArpTicks = kArpSteps * kArpTicksPerStep;  // 1024
// The per-frame value buffers that the modulation matrix reads. The plug-in renders host
// blocks longer than this in parts of at most this many frames, the arpeggiator running once
// per part.
constexpr int kArpBufferFrames = 8192;

// Arp Mode codes. Codes 1 and 7 and anything else outside this list play no notes.
enum ArpMode : int {
    kArpSimple = 0,
    kArpOneShot = 2,
    kArpChord = 3,
    kArpModulation = 4,
    kArpDynamic = 5,
    kArpDuophonic = 6,
};

// Lays the two lanes out on the tick grid: every tick 1.0 (no event), then step s at tick
// 32 s, a rest moved by lengthOffset ticks, steps with s mod 4 = 2 moved by the swing;
// positions held to 0..1023, a later step overwriting an earlier one at the same tick.
// Allocates nothing; safe on the audio thread.
void buildArpGrid(const float* noteLane, const float* secondLane, int lengthOffset, float swing,
                  float* noteTable, float* secondTable);

// The synced step lengths in 1/128 quarter notes, dotted, straight and triplet from a half
// note down to a 1/128 note; a raw Arp Rate value selects one.
constexpr int kArpSyncedLengths = 21;
extern const double kArpSyncedLength[kArpSyncedLengths];
int arpSyncedIndex(float rateValue);

// Samples per tick: free, 0.1 x 1000^v steps per second; synced, the selected note length at
// the tempo (quarter notes per minute; 120 when not positive).
double arpTickLength(double sampleRate, bool synced, float rateValue, double tempo);

}  // namespace corvane

// The arpeggiator: the tick grid, the clock and the six modes. It runs on the audio thread
// before a block's notes are applied and hands its notes to the plug-in's note list.
#include "engine/Arpeggiator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/SafeMath.h"
#include "engine/Harrow.h"
#include "patch/ParamRanges.h"

namespace corvane {

namespace {

using dsp::truncClamp;

// A stored lane value as the step code trunc(v x 128): 0 a rest, 1..127 an offset of
// code - 1 semitones, 128 no event. Values beyond the lane's range count as its ends.
int laneCode(float v) {
    return truncClamp(static_cast<double>(v) * 128.0, 0, 128);
}

constexpr float kRestLimit = 0.00001f;
constexpr int kNoteOn = 0x90;
constexpr int kNoteOff = 0x80;
constexpr int kReleaseVelocity = 64;

}  // namespace

const double kArpSyncedLength[kArpSyncedLengths] = {
    384,      256, 512.0 / 3, 192,      128, 256.0 / 3, 96,       64, 128.0 / 3, 48,     32,
    64.0 / 3, 24,  16,        32.0 / 3, 12,  8,         16.0 / 3, 6,  4,         8.0 / 3};

void buildArpGrid(const float* noteLane, const float* secondLane, int lengthOffset, float swing,
                  float* noteTable, float* secondTable) {
    for (int t = 0; t < kArpTicks; ++t)
        noteTable[t] = secondTable[t] = 1.0f;
    const int swingTicks =
        truncClamp((static_cast<double>(swing) - 0.5) * 48.0, -kArpTicks, kArpTicks);
    for (int s = 0; s < kArpSteps; ++s) {
        int p = kArpTicksPerStep * s;
        if (noteLane[s] <= kRestLimit) p += lengthOffset;
        if (s % 4 == 2) p += swingTicks;
        p = p < 0 ? 0 : (p > kArpTicks - 1 ? kArpTicks - 1 : p);
        noteTable[p] = noteLane[s];
        secondTable[p] = secondLane[s];
    }
}

int arpSyncedIndex(float rateValue) {
    return truncClamp(static_cast<double>(rateValue) * 20.01, 0, kArpSyncedLengths - 1);
}

double arpTickLength(double sampleRate, bool synced, float rateValue, double tempo) {
    if (synced) {
        const double bpm = tempo > 0.0 ? dsp::finiteOr(tempo, 120.0) : 120.0;
        return sampleRate * 0.46875 * kArpSyncedLength[arpSyncedIndex(rateValue)] * 0.03125 / bpm;
    }
    const double v = dsp::unitClamp(static_cast<double>(rateValue));
    const double stepsPerSecond = mapped(kArpFreeStepsPerSecond, v);
    return sampleRate / (stepsPerSecond * kArpTicksPerStep);
}

// ---- engine side ----

bool Harrow::setArpParameter(int index, float value) {
    if (index >= 256 && index < 256 + kArpSteps) {
        arpNoteLane[index - 256] = value;
        arpGridDirty.store(true);
        return true;
    }
    if (index >= 288 && index < 288 + kArpSteps) {
        arpSecondLane[index - 288] = value;
        arpGridDirty.store(true);
        return true;
    }
    switch (index) {
        case 70:
            arpRange = value;
            return true;
        case 71:
            arpRateValue = value;
            return true;
        case 72:
            arpLengthOffset = truncClamp(static_cast<double>(value) * 62.0, 0, 62) - 31;
            arpGridDirty.store(true);
            return true;
        case 73:
            arpSwing = value;
            arpGridDirty.store(true);
            return true;
        case 114:
            arpSync = value > 0.001f;
            return true;
        case 125:
            arpMode = truncClamp(static_cast<double>(value) + 0.0001, -1, 1000);
            return true;
        case 320:
            arpStepCount = truncClamp(static_cast<double>(value) * 31.0, 0, 31) + 1;
            return true;
        default:
            return false;
    }
}

void Harrow::arpEmit(int status, int key, int32_t frame, int velocity) {
    if (key < 0) return;
    if (key > 127) key = 127;
    velocity = velocity < 0 ? 0 : (velocity > 127 ? 127 : velocity);
    if (client) client->arpNote(status, key, frame, velocity);
}

// The lowest key among 0..126 held with a velocity; key 0 counts as none, as does no key.
int Harrow::arpLowestKey() const {
    for (int k = 0; k < 127; ++k)
        if (arpHeld[k] != 0) return k > 0 ? k : -1;
    return -1;
}

// Releases the notes A and B at once (frame 0 of the block) and forgets them.
void Harrow::arpReleaseNotes() {
    if (arpNoteA >= 0) noteOff(arpNoteA);
    if (arpNoteB >= 0) noteOff(arpNoteB);
    arpNoteA = arpNoteB = -1;
}

void Harrow::beginArpBlock() {
    const bool on = arpOn;
    if (arpRunning && !on) {
        // Switched off: nothing the pattern started may go on sounding, in mono mode as in
        // poly mode. The held keys go too; from now on keys play directly.
        releasePlayingVoices();
        arpNoteA = arpNoteB = -1;
        std::memset(arpHeld, 0, sizeof arpHeld);
    } else if (arpRunning && arpMode != arpRunningMode) {
        // A new mode would not know the notes of the old one.
        arpReleaseNotes();
    }
    if (!on) arpClock += 1.0;
    arpRunning = on;
    arpRunningMode = arpMode;
    if (on && arpGridDirty.exchange(false))
        buildArpGrid(arpNoteLane, arpSecondLane, arpLengthOffset, arpSwing, arpNoteTable,
                     arpSecondTable);
}

void Harrow::runArpeggiator(int frames, int blockOffset) {
    if (!arpRunning) return;
    if (frames > kArpBufferFrames) frames = kArpBufferFrames;
    arpBufferStart = blockOffset;
    const double tickLength = arpTickLength(sampleRate, arpSync, arpRateValue, tempo);
    // Frame by frame: a restart at its frame, a tick whenever the clock has reached the tick
    // length (but none before a restart still to come in this block), the values into the
    // buffers, the clock one on. Between events only the clock moves by one a frame, so it
    // is moved over such a stretch at once and the values are written as runs.
    double clock = arpClock;
    int i = 0;
    while (i < frames) {
        int next = frames;  // the next frame at which something may happen
        if (arpRestartFrame >= blockOffset + i) {
            const int64_t r = int64_t{arpRestartFrame} - blockOffset;
            if (r < frames) next = static_cast<int>(r);
        } else if (clock < tickLength) {
            const double gap = std::ceil(tickLength - clock);
            if (gap < static_cast<double>(frames - i)) next = i + static_cast<int>(gap);
        } else {
            next = i;
        }
        std::fill(arpNoteBuffer + i, arpNoteBuffer + next, arpNoteValue);
        std::fill(arpVelocityBuffer + i, arpVelocityBuffer + next, arpVelocityValue);
        clock += static_cast<double>(next - i);
        i = next;
        if (i == frames) break;

        const int32_t frame = blockOffset + i;
        if (frame == arpRestartFrame) {
            clock = tickLength + 1e-15;  // a tick is due now
            arpRestartFrame = -1;
        }
        if (clock >= tickLength && !(arpRestartFrame > frame)) {
            arpClock = clock;
            arpTick(frame, tickLength);
            clock = arpClock;
        }
        arpNoteBuffer[i] = arpNoteValue;
        arpVelocityBuffer[i] = arpVelocityValue;
        clock += 1.0;
        ++i;
    }
    arpClock = clock;
}

void Harrow::arpTick(int32_t frame, double tickLength) {
    uint32_t u = arpTickCounter++;
    arpClock -= tickLength;
    const int mode = arpMode;
    const uint32_t patternTicks = static_cast<uint32_t>(arpStepCount) * kArpTicksPerStep;
    if (mode == kArpOneShot && u >= patternTicks) {
        // Played once. The last note lasts while a key is held; once none is, it ends at
        // the next tick instead of sounding on for ever.
        if (arpNoteA >= 0 && arpLowestKey() < 0) {
            arpEmit(kNoteOff, arpNoteA, frame, kReleaseVelocity);
            arpNoteA = -1;
        }
        return;
    }
    u %= patternTicks;
    arpCurrentStep = static_cast<int>(u / kArpTicksPerStep);
    const float noteValue = arpNoteTable[u];
    const float second = arpSecondTable[u];
    const int a = laneCode(noteValue);

    if (u == 0 && mode != kArpDuophonic && arpNoteB >= 0) {
        // The second lane's note belongs to Duophonic; left over from it, it is released.
        arpEmit(kNoteOff, arpNoteB, frame, kReleaseVelocity);
        arpNoteB = -1;
    }
    if (a == 128 && (mode != kArpDuophonic || laneCode(second) == 128)) {
        if (mode == kArpDuophonic) arpVelocityValue = 0.5f;
        return;  // nothing at this tick: the notes go on
    }

    // The values that "Arp Note" and "Arp Vel" show from this tick on.
    if (a > 0 && a < 128) arpNoteValue = noteValue;
    if (mode == kArpDuophonic)
        arpVelocityValue = 0.5f;
    else if (second > kRestLimit && mode != kArpDynamic)
        arpVelocityValue = second;

    const int lowest = arpLowestKey();
    switch (mode) {
        case kArpSimple:
        case kArpOneShot:
        case kArpDynamic: {
            if (arpNoteA >= 0) arpEmit(kNoteOff, arpNoteA, frame, kReleaseVelocity);
            arpNoteA = -1;
            if (a == 0 || lowest < 0) break;
            int key = lowest + a - 1;
            const int e = mode == kArpDynamic ? laneCode(second) / 16 : 0;
            if (e >= 1) {
                // The e-th held key above the lowest, in the note lane's octave.
                int found = 0;
                for (int k = lowest + 1; k < 127; ++k) {
                    if (arpHeld[k] != 0 && ++found == e) {
                        key = 12 * ((a - 1) / 12) + k;
                        break;
                    }
                }
            }
            arpNoteA = key > 127 ? 127 : key;
            arpEmit(kNoteOn, arpNoteA, frame, arpHeld[lowest]);
            break;
        }
        case kArpChord: {
            const double range = arpRange;
            for (int k = 127; k >= 0; --k) {
                if (arpHeld[k] == 0) continue;
                // Each step plays the chord anew: the previous step's voice of a key is
                // released first rather than piling up under the new one.
                arpEmit(kNoteOff, k, frame, kReleaseVelocity);
                if (a == 0) continue;
                const double velocity =
                    arpVelocityValue * range * 127.0 + (1.0 - range) * arpHeld[k];
                arpEmit(kNoteOn, k, frame, truncClamp(velocity, 0, 127));
            }
            break;
        }
        case kArpDuophonic: {
            const int velocity = lowest >= 0 ? arpHeld[lowest] : 0;
            if (a < 128) {
                if (arpNoteA >= 0) arpEmit(kNoteOff, arpNoteA, frame, kReleaseVelocity);
                arpNoteA = -1;
                if (a > 0 && lowest >= 0) {
                    const int key = lowest + a - 1;
                    arpNoteA = key > 127 ? 127 : key;
                    arpEmit(kNoteOn, arpNoteA, frame, velocity);
                }
            }
            const int m = laneCode(second);
            if (m < 128) {
                if (arpNoteB >= 0) arpEmit(kNoteOff, arpNoteB, frame, kReleaseVelocity);
                arpNoteB = -1;
                if (m > 0 && lowest >= 0) {
                    const int key = lowest - 1 + m;
                    arpNoteB = key > 127 ? 127 : key;
                    arpEmit(kNoteOn, arpNoteB, frame, velocity);
                }
            }
            break;
        }
        default:
            // Modulation moves only the values; codes without a mode play nothing.
            break;
    }
}

}  // namespace corvane

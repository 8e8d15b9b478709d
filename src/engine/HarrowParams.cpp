// Parameter routing: values applied at once, posted for the audio thread, and whole programs.
#include "engine/Harrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/SafeMath.h"
#include "patch/BuiltinPatches.h"

namespace corvane {
namespace {

// How the engine reads a value that is not a number or infinite: as the init patch's value
// of a stored slot, the centre for pitch bend, 0 for anything else. The patch keeps the
// bits it was given; only the engine's reading of them is replaced.
inline float readableValue(int index, float value) {
    if (std::isfinite(value)) return value;
    if (index >= 0 && index < kStoredSlots) return initPatch().slots[index];
    return index == kPitchBendSlot ? 0.5f : 0.0f;
}

}  // namespace

void Harrow::updateGlideCoef() {
    const double ms = std::pow(1000.0, static_cast<double>(glideTime));
    glideCoef = static_cast<float>(std::pow(0.1, 1000.0 / (ms * sampleRate)));
}

void Harrow::setParameter(int index, float value) {
    value = readableValue(index, value);
    if (index >= 79 && index <= 121) rack.setParameter(index, value);
    switch (index) {
        case 18:
            ampEnvelope.attack = value;
            break;
        case 19:
            ampEnvelope.decay = value;
            break;
        case 20:
            ampEnvelope.sustain = value * value;
            break;
        case 21:
            ampEnvelope.release = value;
            break;
        case 22:
            filterEnvelope.attack = value;
            break;
        case 23:
            filterEnvelope.decay = value;
            break;
        case 24:
            filterEnvelope.sustain = value * value;
            break;
        case 25:
            filterEnvelope.release = value;
            break;
        case 57:
            modEnvelope.attack = value;
            break;
        case 58:
            modEnvelope.decay = value;
            break;
        case 59:
            modEnvelope.sustain = value * value;
            break;
        case 60:
            modEnvelope.release = value;
            break;
        case 28:
            cutoffTarget = value;
            break;
        case 32:
            dcBlock = value > 0.00001f;
            break;
        case 74: {
            // Held to the host's range: a damaged patch must not overflow the output gain.
            const float v = dsp::unitClamp(value);
            masterGain = v * v * ((hostIsOwnHost && dataVersion >= 15) ? 8.0f : 4.0f);
            break;
        }
        case 78:
            glideTime = value;
            glideOn = value > 0.0000001f;
            updateGlideCoef();
            break;
        case 113:
            modWheelTarget = value;
            break;
        case 115:
            arpOn = value > 0.001f;
            break;
        case 126:
            filterType = dsp::truncClamp(value + 0.0000001f, 0, 100);
            filter.setType(value);
            for (int i = 0; i < kPlayingVoices; ++i) {
                Voice& v = voices[i];
                v.ic1L = v.ic2L = v.ic1R = v.ic2R = 0.0f;
            }
            break;
        case 127:
            monoMode = value > 0.0001f;
            if (monoMode) {
                reset();
            } else if (!arpOn) {
                std::memset(arpHeld, 0, sizeof arpHeld);
                anyKeyDown = 0;
                releasePlayingVoices();
            }
            break;
        case 321:
            // A stored value beyond 0..1 must not reach the tail ring or past the pool.
            voiceCount = dsp::truncClamp(value * 32.0f, 0, 32) + 8;
            break;
        case kPitchBendSlot:
            bendUnit = 2.0 * (value - 0.5);
            bendRaw = dsp::truncClamp((value - 0.5f) * 16384.0f, -8192, 8192);
            break;
        default:
            if (!setArpParameter(index, value)) setModulationParameter(index, value);
            break;
    }
}

void Harrow::postParameter(int index, float value) {
    if (index < 0 || index >= kNumSlots) return;
    posted_[index].store(value, std::memory_order_relaxed);
    postedFlags_[index / 32].fetch_or(1u << (index % 32), std::memory_order_release);
}

void Harrow::postAllNotesOff(bool hard) {
    if (hard)
        postedNotesOff_.store(2, std::memory_order_release);
    else
        postedNotesOff_.fetch_or(1, std::memory_order_release);
}

void Harrow::applyPosted() {
    if (postedNotesOff_.load(std::memory_order_relaxed) != 0) {
        const uint8_t notesOff = postedNotesOff_.exchange(0, std::memory_order_acquire);
        if (notesOff) allNotesOff(notesOff >= 2);
    }
    // Slots in order; a value posted again meanwhile is applied now or at the next call.
    for (int w = 0; w < kPostedWords; ++w) {
        if (postedFlags_[w].load(std::memory_order_relaxed) == 0) continue;
        uint32_t flags = postedFlags_[w].exchange(0, std::memory_order_acquire);
        while (flags) {
            const int bit = __builtin_ctz(flags);
            flags &= flags - 1;
            const int index = w * 32 + bit;
            setParameter(index, posted_[index].load(std::memory_order_relaxed));
        }
    }
}

void Harrow::recallPatch() {
    for (int i = 0; i < kStoredSlots; ++i)
        setParameter(i, currentPatch().slots[i]);
}

void Harrow::applyProgram() {
    clearModulationMatrix();
    reset();
    const float* slots = currentPatch().slots;
    for (int i = 0; i < kStoredSlots; ++i) {
        if (client)
            client->programValue(i, slots[i]);
        else
            setParameter(i, slots[i]);
    }
    // The sink posts; the loader holds the engine, so the program plays from the first block.
    applyPosted();
    applyStoredEffectOrder();
}

// The patch keeps its effect order in slots 323..328, each an effect number read as
// floor(value + 0.1). An order that names every effect once is taken; anything else (a
// repeated or missing effect, a value out of range, NaN) leaves the default order 0..5.
void Harrow::applyStoredEffectOrder() {
    const float* stored = currentPatch().slots + kEffectOrderSlot;
    int32_t order[6];
    bool seen[6] = {};
    for (int i = 0; i < 6; ++i) {
        const float v = stored[i];
        if (!(v >= -0.1f && v < 5.9f)) return setDefaultEffectOrder();
        const int e = std::clamp(static_cast<int>(std::floor(v + 0.1f)), 0, 5);
        if (seen[e]) return setDefaultEffectOrder();
        seen[e] = true;
        order[i] = e;
    }
    std::copy(order, order + 6, effectOrder);
}

void Harrow::setDefaultEffectOrder() {
    for (int i = 0; i < 6; ++i)
        effectOrder[i] = i;
}

}  // namespace corvane

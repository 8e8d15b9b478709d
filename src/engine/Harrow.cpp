#include "engine/Harrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/SafeMath.h"
#include "engine/Playback.h"
#include "patch/BuiltinPatches.h"

namespace corvane {
namespace {

constexpr float kVoiceOutputScale = 0.2f;

template <typename T>
T smoothTowards(T x, T target, int n) {
    for (int i = 0; i < n; ++i) {
        const T next = x + (target - x) / T(1024);
        if (next == x) break;
        x = next;
    }
    return x;
}

// How the engine reads a value that is not a number or infinite: as the init patch's value
// of a stored slot, the centre for pitch bend, 0 for anything else. The patch keeps the
// bits it was given; only the engine's reading of them is replaced.
inline float readableValue(int index, float value) {
    if (std::isfinite(value)) return value;
    if (index >= 0 && index < kStoredSlots) return initPatch().slots[index];
    return index == kPitchBendSlot ? 0.5f : 0.0f;
}

}  // namespace

Harrow::Harrow() : patches(new PatchRecord[kNumPrograms]), rack(random), tables(new EngineTables) {
    fillPatchStore(patches.get(), kNumPrograms);
    setSampleRate(static_cast<float>(sampleRate));
}

Harrow::~Harrow() = default;

void Harrow::setSampleRate(float fs) {
    if (!(fs > 0.0f)) return;
    setModuleSampleRate(fs);
    rack.setSampleRate(fs);
    // DC blocker: bilinear one-pole high-pass at 8 Hz.
    const double k = 2.0 * sampleRate;
    const double w = k * std::tan(std::numbers::pi * 8.0 / sampleRate);
    dcA = static_cast<float>((w - k) / (w + k));
    dcB = static_cast<float>(k / (w + k));
    tables->build(sampleRate);
    setModulationSampleRate();
    updateGlideCoef();
    for (Voice& v : voices)
        v.speedPitch = INT32_MIN;  // speeds depend on the host rate
}

void Harrow::reset() {
    releaseRunning = true;
    bendRaw = 0;
    bendUnit = 0.0;
    breath = foot = expression = pressure = 0.0;
    dcX1[0] = dcX1[1] = dcY1[0] = dcY1[1] = 0.0f;
    pendingGlide = 0.0f;
    rack.reset();
    cutoffSmoothed = cutoffTarget;
    for (Voice& v : voices)
        v = Voice{};
    firstNote = true;
    std::memset(heldKeys, 0, sizeof heldKeys);
    std::memset(arpHeld, 0, sizeof arpHeld);
    anyKeyDown = 0;
    lastNote = -1;
    arpClock = 0.0;
    arpNoteA = arpNoteB = -1;
    arpNoteValue = 0.0f;
    arpVelocityValue = 0.5f;
}

void Harrow::releasePlayingVoices() {
    for (int i = 0; i < kPlayingVoices; ++i)
        if (voices[i].active) voices[i].released = 1;
}

void Harrow::allNotesOff(bool hard) {
    std::memset(arpHeld, 0, sizeof arpHeld);
    anyKeyDown = 0;
    if (hard) {
        reset();
        return;
    }
    // Mono mode's held keys go too: a stale one would turn a later note-off into a pitch
    // change instead of a release.
    std::memset(heldKeys, 0, sizeof heldKeys);
    releasePlayingVoices();
}

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

void Harrow::clearSampleMap() {
    map.clear();
    loadedZones_.store(0);
    for (Voice& v : voices)
        v = Voice{};
}

// ---- notes ----

void Harrow::startVoice(int slot, int note, int velocity) {
    Voice& v = voices[slot];
    v = Voice{};
    v.note = static_cast<int8_t>(note);
    v.velocity = static_cast<int8_t>(velocity);
    v.pitch = static_cast<float>(note * 128);
    v.active = 1;
    v.prevGainL = v.prevGainR = -1.0f;
    v.prevCutoff = -1000.0f;
    v.glideOffset = pendingGlide;
    v.randomValue = static_cast<float>(random.next()) / 16383.0f - 1.0f;
    v.lfoPhase[0] = lfoReset[0] ? 0u : runningLfo1Phase;
    v.position = 0.0;
    v.zone = map.findZone(note, velocity);
    if (v.zone && v.zone->isLoopTrigger && map.sliceCount >= 1) {
        v.sliceIndex = 0;
        v.sliceEnd = map.sliceDurationSamples(*v.zone, 0, tempo);
    }
}

// The first free playing slot, or the slot of a stolen voice: released voices go first,
// then the oldest; equal ages go to the higher slot.
int Harrow::chooseVoice() {
    const int count = std::clamp(voiceCount, 1, kPlayingVoices);
    for (int i = 0; i < count; ++i)
        if (!voices[i].active) return i;
    int victim = -1;
    for (int i = 0; i < count; ++i)
        if (voices[i].released && (victim < 0 || voices[i].age >= voices[victim].age)) victim = i;
    if (victim < 0) {
        victim = 0;
        for (int i = 1; i < count; ++i)
            if (voices[i].age >= voices[victim].age) victim = i;
    }
    stealInto(victim);
    return victim;
}

// The stolen sound moves to the tail ring and fades out there instead of cutting off.
void Harrow::stealInto(int slot) {
    Voice& tail = voices[kPlayingVoices + tailSlot];
    tail = voices[slot];
    tail.released = 1;
    tail.fastRelease = 1;
    tailSlot = (tailSlot + 1) % kTailVoices;
}

void Harrow::noteOn(int note, int velocity) {
    if (map.empty()) return;
    note &= 0x7F;
    velocity &= 0x7F;
    noteStarted = true;
    if (!monoMode || arpOn) {
        if (!firstNote) {
            pendingGlide = static_cast<float>(lastNote * 128 - note * 128);
        } else {
            pendingGlide = 0.0f;
            firstNote = false;
        }
        lastNote = note;
        startVoice(monoMode ? 0 : chooseVoice(), note, velocity);
    } else {
        heldKeys[note] = 1;
        Voice& v0 = voices[0];
        if (!v0.active) {
            pendingGlide = 0.0f;
            firstNote = true;
            startVoice(0, note, velocity);
        } else if (v0.released) {
            // Retrigger in place: the sample restarts, the envelopes attack again from their
            // current levels and the zone stays the one the voice was playing.
            v0.amp.stage = v0.filterEnv.stage = v0.modEnv.stage = kStageAttack;
            v0.glideOffset = 0.0f;
            v0.age = 0;
            v0.note = static_cast<int8_t>(note);
            v0.velocity = static_cast<int8_t>(velocity);
            v0.pitch = static_cast<float>(note * 128);
            v0.position = 0.0;
            v0.released = 0;
            if (v0.zone && v0.zone->isLoopTrigger && map.sliceCount >= 1) {
                v0.sliceIndex = 0;
                v0.tailCount = 0;
                v0.sliceEnd = map.sliceDurationSamples(*v0.zone, 0, tempo);
            }
        } else {
            // Legato: glide from where voice 0 sounds now; nothing restarts.
            const float from = v0.pitch + v0.glideOffset;
            const float to = static_cast<float>(note * 128);
            const int count = std::clamp(voiceCount, 1, kPlayingVoices);
            for (int i = 0; i < count; ++i) {
                voices[i].glideOffset = from - to;
                voices[i].pitch = to;
            }
        }
        firstNote = false;
        lastNote = note;
    }
    anyKeyDown = 1;
}

void Harrow::noteOff(int note) {
    if (map.empty()) return;
    note &= 0x7F;
    if (!monoMode || arpOn) {
        for (int i = 0; i < kPlayingVoices; ++i)
            if (voices[i].active && voices[i].note == note) voices[i].released = 1;
        return;
    }
    heldKeys[note] = 0;
    if (note != lastNote) return;
    for (int k = 127; k >= 0; --k) {
        if (!heldKeys[k]) continue;
        const float from = voices[0].pitch + voices[0].glideOffset;
        const float to = static_cast<float>(k * 128);
        const int count = std::clamp(voiceCount, 1, kPlayingVoices);
        for (int i = 0; i < count; ++i) {
            voices[i].pitch = to;
            voices[i].glideOffset = from - to;
        }
        lastNote = k;
        return;
    }
    releasePlayingVoices();
}

// ---- rendering ----

void Harrow::renderVoices(int frames, float* fxL, float* fxR, float* dryL, float* dryR,
                          int offset) {
    // Callers pass at most 64 frames; anything longer is rendered in such pieces.
    while (frames > 0) {
        const int n = std::min(frames, kSubBlockFrames);
        renderPiece(n, fxL, fxR, dryL, dryR, offset);
        fxL += n;
        fxR += n;
        dryL += n;
        dryR += n;
        offset += n;
        frames -= n;
    }
}

void Harrow::renderPiece(int n, float* fxL, float* fxR, float* dryL, float* dryR, int offset) {
    if (map.empty()) return;

    // Controllers: one-pole smoothing at 1/1024 per sample, evaluated per sub-block. Once a
    // step no longer changes the value, the remaining steps would not either.
    modWheel = smoothTowards(modWheel, modWheelTarget, n);
    cutoffSmoothed = smoothTowards(cutoffSmoothed, cutoffTarget, n);
    if (std::fabs(modWheel) < 1e-9) modWheel = 0.0;
    cutoffSmoothed = dsp::flushSmall(cutoffSmoothed);
    bendSmoothed = (bendRaw * 16 + bendSmoothed * 112) / 128;
    const int64_t range = bendSmoothed < 0 ? bendRangeDown : bendRangeUp;
    bendPitch = static_cast<int>(static_cast<int64_t>(bendSmoothed) * 128 * range / 8192);

    // Nothing plays while no playing slot is active; the tail ring then waits as it is.
    const int count = std::clamp(voiceCount, 1, kPlayingVoices);
    bool any = false;
    for (int i = 0; i < count; ++i)
        any |= voices[i].active != 0;
    if (!any) return;

    // With a filter the voices go through it four at a time, their filter states advancing
    // side by side. Nothing one voice does between its modulation and its output is read by
    // the next, so each renders exactly as on its own, and the outputs add up in slot order.
    const bool filtering = filterType >= 1 && filterType <= 4;
    VoicePiece pieces[4];
    Voice* group[4];
    int waiting = 0;
    for (int slot = kVoiceSlots - 1; slot >= 0; --slot) {
        Voice& v = voices[slot];
        if (!v.active) {
            for (int k = 0; k < 3; ++k)
                v.lfoPhase[k] += lfoIncrement[k] * static_cast<uint32_t>(n);
            continue;
        }
        if (!v.zone) continue;
        if (!filtering) {
            // alone: the filter only remembers the voice's cutoff
            prepareVoice(v, n, offset, pieces[0]);
            filterVoice(v, pieces[0].buffer, n, pieces[0].m, pieces[0].filterCoefs);
            finishVoice(v, n, pieces[0], fxL, fxR, dryL, dryR);
            continue;
        }
        prepareVoice(v, n, offset, pieces[waiting]);
        group[waiting++] = &v;
        if (waiting < 4) continue;
        filterVoiceGroup(group, pieces, 4, n);
        for (int i = 0; i < 4; ++i)
            finishVoice(*group[i], n, pieces[i], fxL, fxR, dryL, dryR);
        waiting = 0;
    }
    // The last one to three: a pair, then one alone.
    int first = 0;
    if (waiting >= 2) {
        filterVoiceGroup(group, pieces, 2, n);
        first = 2;
    }
    if (waiting - first == 1)
        filterVoice(*group[first], pieces[first].buffer, n, pieces[first].m,
                    pieces[first].filterCoefs);
    for (int i = 0; i < waiting; ++i)
        finishVoice(*group[i], n, pieces[i], fxL, fxR, dryL, dryR);
}

void Harrow::silenceVoice(Voice& v) {
    v.active = 0;
    v.amp = EnvelopeState{};
    v.filterEnv = EnvelopeState{};
    v.modEnv = EnvelopeState{};
    v.ic1L = v.ic2L = v.ic1R = v.ic2R = 0.0f;
}

void Harrow::prepareVoice(Voice& v, int n, int offset, VoicePiece& piece) {
    if (v.released) v.amp.stage = v.filterEnv.stage = v.modEnv.stage = kStageRelease;

    // 1. Modulation: LFOs and matrix, once per sub-block.
    VoiceModulation& m = piece.m;
    m = VoiceModulation();
    modulateVoice(v, n, offset, m);

    // 2. Envelope coefficients.
    piece.pedalDown = !releaseRunning;
    const EngineTables& t = *tables;
    piece.ampCoefs =
        ampEnvelopeCoefs(t, ampEnvelope, m.ampEnv, m.hold, v.fastRelease != 0, piece.pedalDown);
    // The filter envelope only moves while a filter type is chosen.
    const bool filtering = filterType >= 1 && filterType <= 4;
    piece.filterCoefs = filtering
                            ? filterEnvelopeCoefs(t, filterEnvelope, m.filterEnv, piece.pedalDown)
                            : FilterEnvelopeCoefs{1.0f, 1.0f, 0.0f, 1.0f};

    // 3. Pitch: the glide offset decays over the sub-block, the speed stays constant in it.
    if (glideOn) {
        float g = v.glideOffset;
        for (int i = 0; i < n; ++i)
            g *= glideCoef;
        v.glideOffset = dsp::flushSmall(g);
    }
    const SampleZone& zone = *v.zone;
    const double speed = playbackSpeed(t, v, zone, bendPitch, m.pitch, glideOn, sampleRate);

    // 4. Sample reading into the interleaved scratch buffer.
    readVoice(v, map, speed, tempo, t.sliceFade, n, piece.buffer);
}

// 5. (the filter with its envelope over the scratch buffer comes between)
void Harrow::finishVoice(Voice& v, int n, VoicePiece& piece, float* fxL, float* fxR, float* dryL,
                         float* dryR) {
    const VoiceModulation& m = piece.m;
    const float* buffer = piece.buffer;
    const EngineTables& t = *tables;
    const SampleZone& zone = *v.zone;

    // 6. Modulation envelope, only where something reads it.
    if (m.usesModEnv)
        runModEnvelope(v.modEnv, modEnvelopeCoefs(t, modEnvelope, m.modEnv, piece.pedalDown), n);

    // 7. Amplitude envelope and output with gain and send ramps.
    alignas(16) float env[kSubBlockFrames];
    runAmpEnvelope(v.amp, piece.ampCoefs, v.age, n, env);

    const float lm = 1.0f + std::max(m.level, -1.0f);
    const float a = lm * lm * m.levelFactor * zone.gain * kVoiceOutputScale;
    const float p = dsp::safeClamp(m.pan, -1.0f, 1.0f);
    const float gainL = p > 0.0f ? a * (1.0f - p) : a;
    const float gainR = p < 0.0f ? a * (1.0f + p) : a;
    const float send = dsp::unitClamp(m.send);
    if (v.prevGainL < 0.0f) {
        v.prevGainL = gainL;
        v.prevGainR = gainR;
        v.prevSend = send;
    }
    const float invN = 1.0f / static_cast<float>(n);
    const float gl0 = v.prevGainL, dgl = (gainL - gl0) * invN;
    const float gr0 = v.prevGainR, dgr = (gainR - gr0) * invN;
    const float s0 = v.prevSend, ds = (send - s0) * invN;
    if (s0 == 1.0f && send == 1.0f) {
        // Everything goes to the effect bus (the usual case): the dry share is zero.
        for (int i = 0; i < n; ++i) {
            const float fi = static_cast<float>(i);
            const float e = env[i];
            fxL[i] += buffer[2 * i] * e * (gl0 + dgl * fi);
            fxR[i] += buffer[2 * i + 1] * e * (gr0 + dgr * fi);
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const float fi = static_cast<float>(i);
            const float e = env[i];
            const float l = buffer[2 * i] * e * (gl0 + dgl * fi);
            const float r = buffer[2 * i + 1] * e * (gr0 + dgr * fi);
            const float s = s0 + ds * fi;
            fxL[i] += l * s;
            fxR[i] += r * s;
            dryL[i] += l * (1.0f - s);
            dryR[i] += r * (1.0f - s);
        }
    }
    v.prevGainL = gainL;
    v.prevGainR = gainR;
    v.prevSend = send;

    v.age += static_cast<uint32_t>(n);
    if (v.amp.level < 1e-9f) silenceVoice(v);
}

void Harrow::processEffects(int frames, float** io, const int32_t* order, float t) {
    rack.process(frames, io, order, t, delayModulation);
}

void Harrow::advanceEffectPhase(int frames) {
    delayModulation.phase += delayModulation.phaseIncrement * static_cast<uint32_t>(frames);
}

void Harrow::applyMasterGain(int frames, float** outputs) {
    if (frames <= 0) return;
    if (lastMasterGain < 0.0f) lastMasterGain = masterGain;
    float step = (masterGain - lastMasterGain) / static_cast<float>(frames);
    step = dsp::flushSmall(step);
    for (int ch = 0; ch < 2; ++ch) {
        float* out = outputs[ch];
        float g = lastMasterGain;
        for (int i = 0; i < frames; ++i) {
            out[i] *= g;
            g += step;
        }
        if (dcBlock) {
            // One-pole high-pass at 8 Hz.
            float x1 = dcX1[ch], y1 = dcY1[ch];
            const float a = dcA, b = dcB;
            for (int i = 0; i < frames; ++i) {
                const float x = out[i];
                const float y = (x - x1) * b - y1 * a;
                x1 = x;
                y1 = y;
                out[i] = y;
            }
            dcX1[ch] = dsp::flushSmall(x1);
            dcY1[ch] = dsp::flushSmall(y1);
        }
    }
    lastMasterGain = masterGain;
}

}  // namespace corvane

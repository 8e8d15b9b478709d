// Voice rendering: the control pass per sub-block and the sample pass of each voice.
#include "engine/Harrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/SafeMath.h"
#include "engine/Playback.h"

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

}  // namespace

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

}  // namespace corvane

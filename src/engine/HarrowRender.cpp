// Voice rendering: the control pass per sub-block and the sample pass of each voice.
#include "engine/Harrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

    // Voices go four at a time: through the grouped pass when all four fit, otherwise read
    // one by one, with a filter filtered side by side, and finished in turn. Nothing one voice
    // does between its modulation and its output is read by the next, so each renders exactly
    // as on its own, and the outputs add up in slot order either way.
    VoicePiece pieces[4];
    Voice* group[4];
    int waiting = 0;
    bool allFit = true;
    const bool wide = filter.wideKernel();
    const bool filtered = filter.type() >= kFilterLowpass && filter.type() <= kFilterHighpass;
    const bool filtering = filterType >= 1 && filterType <= 4;
    for (int slot = kVoiceSlots - 1; slot >= 0; --slot) {
        Voice& v = voices[slot];
        if (!v.active) {
            for (int k = 0; k < 3; ++k)
                v.lfoPhase[k] += lfoIncrement[k] * static_cast<uint32_t>(n);
            continue;
        }
        if (!v.zone) continue;
        controlVoice(v, n, offset, pieces[waiting]);
        // A group's voices all send everything to the effect bus, or all ramp their sends.
        // Without AVX2 the pass gains only with a filter and no send ramps; elsewhere the
        // separate steps are faster there.
        allFit = allFit && groupVoices && (wide || filtered) && fitsGroup(v, n, pieces[waiting]) &&
                 pieces[waiting].wetOnly == pieces[0].wetOnly && (wide || pieces[waiting].wetOnly);
        group[waiting++] = &v;
        // Without a filter to share, a voice that cannot be grouped need not wait.
        if (waiting < 4 && (allFit || filtering)) continue;
        if (allFit)
            renderGroup(group, pieces, n, fxL, fxR, dryL, dryR);
        else
            renderSeparately(group, pieces, waiting, n, fxL, fxR, dryL, dryR);
        waiting = 0;
        allFit = true;
    }
    renderSeparately(group, pieces, waiting, n, fxL, fxR, dryL, dryR);
}

void Harrow::renderSeparately(Voice* const* group, VoicePiece* pieces, int count, int n, float* fxL,
                              float* fxR, float* dryL, float* dryR) {
    for (int i = 0; i < count; ++i)
        readPiece(*group[i], n, pieces[i]);
    const bool filtering = filterType >= 1 && filterType <= 4;
    int first = 0;
    if (filtering && count == 4) {
        filterVoiceGroup(group, pieces, 4, n);
        first = 4;
    } else if (filtering && count >= 2) {
        filterVoiceGroup(group, pieces, 2, n);
        first = 2;
    }
    // alone: without a filter type it only remembers the voice's cutoff
    for (int i = first; i < count; ++i)
        filterVoice(*group[i], pieces[i].buffer, n, pieces[i].m, pieces[i].filterCoefs);
    for (int i = 0; i < count; ++i)
        finishVoice(*group[i], n, pieces[i], fxL, fxR, dryL, dryR);
}

void Harrow::silenceVoice(Voice& v) {
    v.active = 0;
    v.amp = EnvelopeState{};
    v.filterEnv = EnvelopeState{};
    v.modEnv = EnvelopeState{};
    v.ic1L = v.ic2L = v.ic1R = v.ic2R = 0.0f;
}

void Harrow::controlVoice(Voice& v, int n, int offset, VoicePiece& piece) {
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
    piece.speed = playbackSpeed(t, v, zone, bendPitch, m.pitch, glideOn, sampleRate);

    // 4. Output targets: gains from level and pan, and the effect send.
    const float lm = 1.0f + std::max(m.level, -1.0f);
    const float a = lm * lm * m.levelFactor * zone.gain * kVoiceOutputScale;
    const float p = dsp::safeClamp(m.pan, -1.0f, 1.0f);
    piece.gainL = p > 0.0f ? a * (1.0f - p) : a;
    piece.gainR = p < 0.0f ? a * (1.0f + p) : a;
    piece.send = dsp::unitClamp(m.send);
}

// 5. Sample reading into the interleaved scratch buffer.
void Harrow::readPiece(Voice& v, int n, VoicePiece& piece) {
    readVoice(v, map, piece.speed, tempo, tables->sliceFade, n, piece.buffer);
}

// 6. (the filter with its envelope over the scratch buffer comes between)
void Harrow::finishVoice(Voice& v, int n, VoicePiece& piece, float* fxL, float* fxR, float* dryL,
                         float* dryR) {
    const VoiceModulation& m = piece.m;
    const float* buffer = piece.buffer;
    const EngineTables& t = *tables;

    // 7. Modulation envelope, only where something reads it.
    if (m.usesModEnv)
        runModEnvelope(v.modEnv, modEnvelopeCoefs(t, modEnvelope, m.modEnv, piece.pedalDown), n);

    // 8. Amplitude envelope and output with gain and send ramps.
    alignas(16) float env[kSubBlockFrames];
    runAmpEnvelope(v.amp, piece.ampCoefs, v.age, n, env);

    const float gainL = piece.gainL, gainR = piece.gainR, send = piece.send;
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

bool Harrow::fitsGroup(const Voice& v, int n, VoicePiece& piece) const {
    VoiceGroupKernel::Lane& lane = piece.lane;

    // Output: all to the effect bus, or split by a send ramp.
    const float s0 = v.prevGainL < 0.0f ? piece.send : v.prevSend;
    lane.send = s0;
    lane.sendStep = (piece.send - s0) * (1.0f / static_cast<float>(n));
    piece.wetOnly = s0 == 1.0f && piece.send == 1.0f;

    // Reading: a stereo zone that loops, or whose end lies beyond this sub-block.
    const SampleZone& z = *v.zone;
    if (z.isLoopTrigger && map.sliceCount >= 1 && map.zoneCount >= 1) return false;
    if (!z.data || z.frameCount <= 0 || z.channels == 1) return false;
    lane.data = z.data;
    lane.position = v.position;
    lane.speed = piece.speed;
    const double loopEnd = z.loopEnd < z.frameCount ? z.loopEnd : static_cast<double>(z.frameCount);
    const double length = loopEnd - z.loopStart;
    if (z.loopMode >= 1 && z.loopStart >= 0.0 && length >= 1.0) {
        lane.limit = static_cast<int>(loopEnd);
        lane.length = length;
    } else if (VoiceGroupKernel::framesBelow(v.position, z.frameCount, piece.speed, n) == n) {
        lane.limit = std::numeric_limits<double>::infinity();
        lane.length = 1.0;
    } else {
        return false;
    }

    // Amplitude envelope: decaying, holding or releasing, with no hold left to wait.
    const AmpEnvelopeCoefs& c = piece.ampCoefs;
    uint8_t stage = v.amp.stage;
    lane.level = v.amp.level;
    if (stage == kStageAttack && c.attack == 0.0f) {
        stage = kStageDecay;  // the instant attack, as runAmpEnvelope() takes it
        lane.level = 1.0f;
    }
    if (c.hold > v.age) return false;
    lane.stopped = false;
    if (stage == kStageDecay) {
        lane.factor = c.decay;
        lane.threshold = c.sustain;
    } else if (stage == kStageRelease) {
        lane.factor = c.release;
        lane.threshold = -std::numeric_limits<float>::infinity();
    } else if (stage == kStageSustain) {
        lane.factor = 1.0f;
        lane.threshold = 0.0f;
        lane.stopped = true;
    } else {
        return false;
    }

    // Gain ramps as the separate output computes them.
    const float gl0 = v.prevGainL < 0.0f ? piece.gainL : v.prevGainL;
    const float gr0 = v.prevGainL < 0.0f ? piece.gainR : v.prevGainR;
    const float invN = 1.0f / static_cast<float>(n);
    lane.gainL = gl0;
    lane.stepL = (piece.gainL - gl0) * invN;
    lane.gainR = gr0;
    lane.stepR = (piece.gainR - gr0) * invN;
    return true;
}

namespace {

// The filter envelope of one voice, run by the filter's coefficient loop.
struct FilterEnvelopeSteps {
    EnvelopeState* state;
    const FilterEnvelopeCoefs* coefs;
    void operator()(float* levels, int n) const {
        FilterEnvelopeRun run(*state, *coefs);
        run.run(levels, n);
        run.finish();
    }
};

// The buses of a group: the effect bus, and the dry bus for a group with send ramps.
struct GroupBuses {
    float* fxL;
    float* fxR;
    float* dryL;
    float* dryR;
};

template <int Type, bool Send>
void groupPass(const float* table, float k, VoiceGroupKernel::Lane* lanes,
               FilterEnvelopeSteps* envelopes, int n, const GroupBuses& b) {
    VoiceGroupKernel::run<Type, Send>(table, k, lanes, envelopes, n, b.fxL, b.fxR, b.dryL, b.dryR);
}

template <int Type, bool Send>
CORVANE_FILTER_WIDE_TARGET void groupPassWide(const float* table, float k,
                                              VoiceGroupKernel::Lane* lanes,
                                              FilterEnvelopeSteps* envelopes, int n,
                                              const GroupBuses& b) {
    VoiceGroupKernel::run<Type, Send>(table, k, lanes, envelopes, n, b.fxL, b.fxR, b.dryL, b.dryR);
}

// On the baseline instruction set the pass is only used with a filter and no send ramps
// (see renderPiece()).
template <int Type>
void groupPassOn(bool wide, bool send, const float* table, float k, VoiceGroupKernel::Lane* lanes,
                 FilterEnvelopeSteps* envelopes, int n, const GroupBuses& b) {
    if (wide && send)
        groupPassWide<Type, true>(table, k, lanes, envelopes, n, b);
    else if (wide)
        groupPassWide<Type, false>(table, k, lanes, envelopes, n, b);
    else if constexpr (Type != kFilterOff)
        groupPass<Type, false>(table, k, lanes, envelopes, n, b);
}

}  // namespace

void Harrow::renderGroup(Voice* const* group, VoicePiece* pieces, int n, float* fxL, float* fxR,
                         float* dryL, float* dryR) {
    ++groupPasses;
    constexpr int kCount = VoiceGroupKernel::kVoices;
    VoiceGroupKernel::Lane lanes[kCount];
    FilterEnvelopeSteps envelopes[kCount];
    for (int i = 0; i < kCount; ++i) {
        Voice& v = *group[i];
        const VoiceModulation& m = pieces[i].m;
        VoiceGroupKernel::Lane& lane = lanes[i];
        lane = pieces[i].lane;
        // The cutoff ramp as the filter starts it; with no filter type only its end is kept.
        const float target =
            Filter::cutoffTarget(cutoffSmoothed, m.cutoff, v.pitch, filterKeytrack + m.keytrack);
        lane.filter = FilterState{v.ic1L, v.ic2L, v.ic1R, v.ic2R, v.prevCutoff};
        lane.ramp.start = v.prevCutoff >= -99.0f ? v.prevCutoff : target;
        lane.ramp.step = (target - lane.ramp.start) / static_cast<float>(n);
        lane.ramp.envAmount = filterEnvAmount + m.envAmount;
        v.prevCutoff = target;
        envelopes[i] = FilterEnvelopeSteps{&v.filterEnv, &pieces[i].filterCoefs};
    }

    const float* table = filter.table();
    const float k = filter.damping();
    const bool wide = filter.wideKernel();
    const int type = filter.type();
    const bool send = !pieces[0].wetOnly;
    const GroupBuses buses{fxL, fxR, dryL, dryR};
    switch (type) {
        case kFilterLowpass:
            groupPassOn<kFilterLowpass>(wide, send, table, k, lanes, envelopes, n, buses);
            break;
        case kFilterBandpass:
            groupPassOn<kFilterBandpass>(wide, send, table, k, lanes, envelopes, n, buses);
            break;
        case kFilterBandstop:
            groupPassOn<kFilterBandstop>(wide, send, table, k, lanes, envelopes, n, buses);
            break;
        case kFilterHighpass:
            groupPassOn<kFilterHighpass>(wide, send, table, k, lanes, envelopes, n, buses);
            break;
        default:
            groupPassOn<kFilterOff>(wide, send, table, k, lanes, envelopes, n, buses);
            break;
    }
    const bool filtered = type >= kFilterLowpass && type <= kFilterHighpass;

    const EngineTables& t = *tables;
    for (int i = 0; i < kCount; ++i) {
        Voice& v = *group[i];
        VoicePiece& piece = pieces[i];
        const VoiceGroupKernel::Lane& lane = lanes[i];
        v.position = lane.position;
        if (filtered) {
            FilterState s = lane.filter;
            s.flush();
            v.ic1L = s.ic1L;
            v.ic2L = s.ic2L;
            v.ic1R = s.ic1R;
            v.ic2R = s.ic2R;
        }
        if (piece.m.usesModEnv)
            runModEnvelope(v.modEnv,
                           modEnvelopeCoefs(t, modEnvelope, piece.m.modEnv, piece.pedalDown), n);
        if (v.amp.stage == kStageAttack) v.amp.stage = kStageDecay;  // the instant attack
        if (v.amp.stage == kStageDecay && lane.stopped) v.amp.stage = kStageSustain;
        v.amp.level = lane.level;
        v.prevGainL = piece.gainL;
        v.prevGainR = piece.gainR;
        v.prevSend = piece.send;
        v.age += static_cast<uint32_t>(n);
        if (v.amp.level < 1e-9f) silenceVoice(v);
    }
}

}  // namespace corvane

// The engine's modulation: tempo-synced LFO rates, the global modulation pass, the per-voice
// LFO and matrix pass, the filter pass and their parameters. Without LFO routings, matrix
// slots or a filter type the voices render unmodulated and unfiltered.
#include <algorithm>

#include "dsp/SafeMath.h"
#include "engine/Harrow.h"

namespace corvane {

namespace {
// The arpeggiator's two modulation sources rest at the middle while it is off.
constexpr float kArpRestValue = 0.5f;
}  // namespace

void Harrow::setModulationSampleRate() {
    filter.buildTable(sampleRate);
    for (int k = 0; k < 3; ++k) {
        lfos[k].prepare(sampleRate, dsp::kDefaultMaxBlock);
        lfoIncrement[k] = lfos[k].increment();
    }
}

void Harrow::beginBlock() {
    for (int k = 0; k < 3; ++k) {
        lfos[k].beginBlock(tempo);
        lfoIncrement[k] = lfos[k].increment();
    }
}

ModGlobals Harrow::modulationGlobals() const {
    ModGlobals g;
    g.modWheel = modWheel;
    g.bend = bendUnit;
    g.pressure = pressure;
    g.breath = breath;
    g.foot = foot;
    g.expression = expression;
    g.arpVelocity = arpRunning ? arpVelocityValue : kArpRestValue;
    g.sampleRate = sampleRate;
    return g;
}

void Harrow::updateGlobalModulation() {
    // Sources that belong to a voice come from voice slot 0; its LFOs are read at their
    // phases without interpolation.
    const Voice& v0 = voices[0];
    ModVoiceSources s;
    s.velocity = v0.velocity;
    s.pitch = v0.pitch;
    s.randomValue = v0.randomValue;
    for (int k = 0; k < 3; ++k) {
        s.lfo[k] =
            lfos[k].shape() == kLfoSampleHold ? v0.holdValue[k] : lfos[k].readPoint(v0.lfoPhase[k]);
    }
    s.ampEnv = v0.amp.level;
    s.filterEnv = v0.filterEnv.level;
    s.modEnv = v0.modEnv.level;
    s.age = v0.age;
    GlobalModulation g;
    matrix.globalPass(s, modulationGlobals(), noteStarted, g);

    // The delay's copy of LFO 2 runs at the rate the global sources give it.
    const Lfo& lfo2 = lfos[1];
    const float setting = dsp::unitClamp(lfo2.rateValue() + g.lfo2Rate);
    delayModulation.phaseIncrement = lfo2.incrementFor(lfo2.rateFor(setting));
    delayModulation.lfoTable = lfo2.table();
    if (g.lfo2PhaseSet) delayModulation.phase = g.lfo2Phase;
    delayModulation.depth = g.delayDepth;
    noteStarted = false;
}

void Harrow::setModulationParameter(int index, float value) {
    if (matrix.setParameter(index, value)) return;
    switch (index) {
        case 26:
            filterKeytrack = value;
            return;
        case 29:
            filter.setResonance(value);
            return;
        case 30:
            filterEnvAmount = value;
            return;
        default:
            break;
    }
    if (index < 33 || index > 56) return;
    // Three LFOs of nine slots each: shape, rate, skew, fade-in, sync, reset, three reserved.
    const int k = (index - 33) / 9;
    Lfo& lfo = lfos[k];
    switch ((index - 33) % 9) {
        case 0:
            lfo.setShape(value);
            break;
        case 1:
            lfo.setRate(value);
            break;
        case 2:
            lfo.setSkew(value);
            break;
        case 3:
            lfo.setFadeIn(value);
            break;
        case 4:
            lfo.setSync(value);
            break;
        case 5:
            lfo.setReset(value);
            lfoReset[k] = lfo.resetOn();
            break;
        default:
            return;
    }
    lfoIncrement[k] = lfo.increment();
}

void Harrow::clearModulationMatrix() {
    matrix.clear();
}

void Harrow::modulateVoice(Voice& v, int frames, int offset, VoiceModulation& m) {
    ModVoiceSources s;
    s.velocity = v.velocity;
    s.pitch = v.pitch;
    s.randomValue = v.randomValue;
    s.ampEnv = v.amp.level;
    s.filterEnv = v.filterEnv.level;
    s.modEnv = v.modEnv.level;
    if (arpRunning) {
        // The arpeggiator's values at the sub-block's first frame.
        int i = offset - arpBufferStart;
        i = i < 0 ? 0 : (i >= kArpBufferFrames ? kArpBufferFrames - 1 : i);
        s.arpNote = arpNoteBuffer[i];
        s.arpVelocity = arpVelocityBuffer[i];
    } else {
        s.arpNote = kArpRestValue;
        s.arpVelocity = kArpRestValue;
    }
    s.age = v.age;
    // Without routings nothing reads the LFO values; sample-and-hold still draws its targets
    // so that the random sequence does not depend on the matrix.
    // Likewise an LFO that no routing reads is not evaluated.
    const bool routed = matrix.routed();
    const unsigned read = matrix.lfosRead();
    uint32_t increment[3];
    for (int k = 0; k < 3; ++k) {
        increment[k] = lfoIncrement[k];
        if (!((read >> k) & 1u) && lfos[k].shape() != kLfoSampleHold) continue;
        const float value = lfos[k].evaluate(v.lfoPhase[k], v.holdTarget[k], v.holdValue[k], v.age,
                                             frames, increment[k], random);
        s.lfo[k] = value * lfos[k].fadeFactor(v.age);
    }

    if (routed) matrix.voicePass(s, modulationGlobals(), m);

    for (int k = 0; k < 3; ++k) {
        if (m.lfoRateSet[k]) {
            // The modulated rate becomes the LFO's current rate; a synced LFO moves this
            // voice with it at once, a free one from the next voice on.
            Lfo& lfo = lfos[k];
            lfo.modulateRate(lfo.rateValue() + m.lfoRate[k]);
            lfoIncrement[k] = lfo.increment();
            if (lfo.synced()) increment[k] = lfoIncrement[k];
        }
        if (m.lfoPhaseSet[k]) v.lfoPhase[k] = m.lfoPhase[k];
        Lfo::advance(v.lfoPhase[k], increment[k], frames);
    }
    runningLfo1Phase = v.lfoPhase[0];
}

void Harrow::filterVoice(Voice& v, float* buffer, int frames, const VoiceModulation& m,
                         const FilterEnvelopeCoefs& env) {
    FilterState state{v.ic1L, v.ic2L, v.ic1R, v.ic2R, v.prevCutoff};
    const float target =
        Filter::cutoffTarget(cutoffSmoothed, m.cutoff, v.pitch, filterKeytrack + m.keytrack);
    // Runs only while the filter is on; otherwise the envelope keeps its state untouched.
    auto envelope = [&v, &env](float* levels, int n) {
        FilterEnvelopeRun run(v.filterEnv, env);
        run.run(levels, n);
        run.finish();
    };
    filter.process(state, target, filterEnvAmount + m.envAmount, envelope, buffer, buffer + 1, 2,
                   frames);
    v.ic1L = state.ic1L;
    v.ic2L = state.ic2L;
    v.ic1R = state.ic1R;
    v.ic2R = state.ic2R;
    v.prevCutoff = state.previousCutoff;
}

void Harrow::filterVoiceGroup(Voice* const* group, VoicePiece* pieces, int count, int frames) {
    FilterState states[4];
    auto envelopeOf = [](Voice& v, const FilterEnvelopeCoefs& env) {
        return [&v, &env](float* levels, int n) {
            FilterEnvelopeRun run(v.filterEnv, env);
            run.run(levels, n);
            run.finish();
        };
    };
    using Envelope = decltype(envelopeOf(*group[0], pieces[0].filterCoefs));
    Envelope envelopes[4] = {
        envelopeOf(*group[0], pieces[0].filterCoefs), envelopeOf(*group[1], pieces[1].filterCoefs),
        envelopeOf(*group[count > 2 ? 2 : 0], pieces[count > 2 ? 2 : 0].filterCoefs),
        envelopeOf(*group[count > 3 ? 3 : 0], pieces[count > 3 ? 3 : 0].filterCoefs)};
    auto job = [&](int i) {
        const Voice& v = *group[i];
        const VoiceModulation& m = pieces[i].m;
        states[i] = FilterState{v.ic1L, v.ic2L, v.ic1R, v.ic2R, v.prevCutoff};
        return Filter::Job<Envelope>{
            states[i],
            Filter::cutoffTarget(cutoffSmoothed, m.cutoff, v.pitch, filterKeytrack + m.keytrack),
            filterEnvAmount + m.envAmount, envelopes[i], pieces[i].buffer};
    };
    if (count == 4) {
        Filter::Job<Envelope> jobs[4] = {job(0), job(1), job(2), job(3)};
        filter.processGroup<4>(jobs, frames);
    } else {
        Filter::Job<Envelope> jobs[2] = {job(0), job(1)};
        filter.processGroup<2>(jobs, frames);
    }
    for (int i = 0; i < count; ++i) {
        Voice& v = *group[i];
        v.ic1L = states[i].ic1L;
        v.ic2L = states[i].ic2L;
        v.ic1R = states[i].ic1R;
        v.ic2R = states[i].ic2R;
        v.prevCutoff = states[i].previousCutoff;
    }
}

}  // namespace corvane

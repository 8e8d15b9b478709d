#pragma once
// The synth engine: voice pool, sample map, patch store, modulation and effect rack.
//
// Threads: "audio" calls run only on the host's audio thread inside a block; "control"
// calls run on the host's or the editor's threads; "loader" calls run under the
// loading/renderBusy hand-over, so the audio thread stays out of the engine meanwhile.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "content/SampleMap.h"
#include "dsp/Lifecycle.h"
#include "dsp/Module.h"
#include "dsp/Random.h"
#include "engine/Arpeggiator.h"
#include "engine/EngineClient.h"
#include "engine/EngineTables.h"
#include "engine/Envelope.h"
#include "engine/Filter.h"
#include "engine/Lfo.h"
#include "engine/ModMatrix.h"
#include "engine/Voice.h"
#include "engine/VoiceGroupKernel.h"
#include "fx/DelayModulation.h"
#include "fx/EffectRack.h"
#include "patch/PatchRecord.h"

namespace corvane {

class Harrow : public Module {
  public:
    Harrow();
    ~Harrow() override;
    Harrow(const Harrow&) = delete;
    Harrow& operator=(const Harrow&) = delete;

    // control (while the audio thread is stopped)
    void prepare(float fs, int maxBlock);
    void reset();
    // audio or control: release (hard = false) or silence everything (hard = true)
    void allNotesOff(bool hard);
    // audio, or a loader under the hand-over, or control while the host has stopped
    // processing: applies one value at once (it may rewrite voice and effect state).
    void setParameter(int index, float value);
    // control (any thread, also several at once): keeps the value for the audio thread,
    // which applies it through setParameter at the start of its next block. A later value
    // for the same slot replaces one not yet applied.
    void postParameter(int index, float value);
    // control: the audio thread releases (hard = false) or silences (hard = true) every
    // voice at the start of its next block.
    void postAllNotesOff(bool hard);
    // audio (at the start of a block), or a loader under the hand-over: applies what the
    // control threads posted since the last call.
    void applyPosted();
    void recallPatch();
    // loader: after a program's instrument was loaded
    void applyProgram();

    // audio
    void noteOn(int note, int velocity);
    void noteOff(int note);
    // Once per host block, before the notes are applied: takes over a changed pattern,
    // releases what the arpeggiator played when it was switched off or changed mode, and
    // advances the clock by one while it is off.
    void beginArpBlock();
    // Runs the pattern frame by frame over `frames` frames (at most kArpBufferFrames) that
    // start at frame `blockOffset` of the host block; nothing while it is off.
    void runArpeggiator(int frames, int blockOffset = 0);
    void beginBlock();
    void renderVoices(int frames, float* fxL, float* fxR, float* dryL, float* dryR, int offset);
    void updateGlobalModulation();
    void processEffects(int frames, float** io, const int32_t* effectOrder, float tempo);
    void advanceEffectPhase(int frames);
    void applyMasterGain(int frames, float** outputs);

    // loader (control threads, under the hand-over)
    // Empties the sample map and returns every voice to its silent initial state.
    void clearSampleMap();
    void selectProgram(int program);
    void loadFromPath(const char* path);
    void setBankFolder(const char* path);
    // Bank restore, after the first recordCount programs were copied in: when a bank or
    // program file set the bank folder, every copied program that names an instrument looks
    // for it by its bare file name in that folder. Lowers bankFolderSet. Control thread.
    void applyBankFolder(int recordCount);

    // Parameters that the engine core does not handle itself (LFOs, filter, modulation
    // matrix, arpeggiator) end here.
    void setModulationParameter(int index, float value);
    // Empties the modulation matrix (a program change starts without routings).
    void clearModulationMatrix();

    PatchRecord& currentPatch() { return patches[currentProgram]; }
    std::atomic<int> currentProgram{0};
    std::unique_ptr<PatchRecord[]> patches;  // 128 records

    SampleMap map;
    std::atomic<int32_t> renderBusy{0};  // 1 while a block renders
    std::atomic<uint8_t> loading{0};     // 1 while the loader replaces the map
    std::atomic<uint8_t> forceReload{0};
    uint8_t bankFolderSet = 0;
    // Written by a chunk restore on a control thread while blocks may render.
    std::atomic<int32_t> dataVersion{20};
    std::atomic<int> bendRangeUp{2};
    std::atomic<int> bendRangeDown{2};
    int voiceCount = 12;
    // Effect rack slot order: applyProgram takes the patch's stored order when it names
    // every effect once, else the default order 0..5.
    static constexpr int kEffectOrderSlot = 323;  // slots 323..328
    int32_t effectOrder[6] = {0, 1, 2, 3, 4, 5};

    // Host facts the plug-in keeps current.
    double tempo = 120.0;
    bool hostIsOwnHost = false;
    // The plug-in: receives applied programs' values and the arpeggiator's notes. Without
    // one the engine applies the values itself and the notes go nowhere.
    EngineClient* client = nullptr;

    // Controller values written by the MIDI input.
    double modWheelTarget = 0.0;
    double breath = 0.0, foot = 0.0, expression = 0.0, pressure = 0.0;
    uint8_t sustain = 0;
    bool releaseRunning = true;
    int bendRaw = 0;
    double bendUnit = 0.0;

    // Arpeggiator hand-off of held keys.
    bool arpOn = false;
    int arpMode = 0;
    uint8_t arpHeld[128] = {};
    double arpClock = 0.0;
    int32_t arpRestartFrame = -1;
    uint32_t arpTickCounter = 0;
    int arpCurrentStep = 0;
    uint8_t anyKeyDown = 0;

    // Arpeggiator pattern (stored by setParameter on any thread; the grid is rebuilt from the
    // lanes by the audio thread at the next block start once they changed).
    float arpNoteLane[kArpSteps] = {};
    float arpSecondLane[kArpSteps] = {};
    int arpStepCount = 1;
    bool arpSync = false;
    float arpRateValue = 0.0f;
    float arpSwing = 0.5f;
    int arpLengthOffset = -31;
    float arpRange = 0.0f;
    std::atomic<bool> arpGridDirty{true};
    // Arpeggiator state (audio thread).
    float arpNoteTable[kArpTicks] = {};
    float arpSecondTable[kArpTicks] = {};
    bool arpRunning = false;  // arpOn as this block's start saw it
    int arpRunningMode = 0;
    int arpNoteA = -1, arpNoteB = -1;
    float arpNoteValue = 0.0f;      // "Arp Note"
    float arpVelocityValue = 0.5f;  // "Arp Vel"
    int arpBufferStart = 0;         // host-block frame of the buffers' first entry
    float arpNoteBuffer[kArpBufferFrames] = {};
    float arpVelocityBuffer[kArpBufferFrames] = {};

    Random random;
    EffectRack rack;
    DelayModulation delayModulation;

    // ---- voice pool (audio thread; read by tests) ----
    Voice voices[kVoiceSlots];
    int tailSlot = 0;  // next tail slot, used modulo kTailVoices
    std::unique_ptr<EngineTables> tables;

    // Play modes and glide.
    bool monoMode = false;
    bool glideOn = false;
    float glideTime = 0.0f;  // Glide value 0..1
    float glideCoef = 1.0f;  // per-sample decay of a voice's glide offset
    int lastNote = -1;
    bool firstNote = true;       // the next note starts without glide
    float pendingGlide = 0.0f;   // glide start offset for the next poly voice
    uint8_t heldKeys[128] = {};  // mono mode: keys held

    // Smoothed controllers.
    double modWheel = 0.0;
    float cutoffTarget = 0.0f;
    float cutoffSmoothed = 0.0f;
    int bendSmoothed = 0;
    int bendPitch = 0;  // smoothed bend in 1/128 semitone, updated per sub-block

    // Output gain and DC blocker.
    float masterGain = 0.0f;
    float lastMasterGain = -1.0f;  // negative: no block rendered yet
    bool dcBlock = false;
    float dcA = 0.0f, dcB = 0.0f;
    float dcX1[2] = {}, dcY1[2] = {};

    bool noteStarted = false;  // a note-on since the last global modulation pass
    int filterType = 0;        // 0 off, 1 low-pass, 2 band-pass, 3 band-stop, 4 high-pass

    EnvelopeSettings ampEnvelope;
    EnvelopeSettings filterEnvelope;
    EnvelopeSettings modEnvelope;

    // LFO state that the voice pool uses: per-sample phase increments (idle voices keep
    // their phases running), the reset switches and the running LFO 1 phase a new voice
    // continues from.
    uint32_t lfoIncrement[3] = {};
    bool lfoReset[3] = {};
    uint32_t runningLfo1Phase = 0;

    // Modulators: the three LFOs, the filter settings with the cutoff table, the matrix and
    // the filter parameters that the matrix adds to.
    Lfo lfos[3] = {Lfo(0), Lfo(1), Lfo(2)};
    Filter filter;
    ModMatrix matrix;
    float filterKeytrack = 0.0f;   // `Filter Keytrack`
    float filterEnvAmount = 0.0f;  // `Filter Env Amt`
    // Voices that fit go through one pass four at a time (VoiceGroupKernel); off, every voice
    // takes the separate steps. Both give the same output; the tests compare them.
    bool groupVoices = true;
    uint32_t groupPasses = 0;  // grouped passes so far (for the tests and benchmarks)

    // control: the current patch's stored effect order into effectOrder, when it names
    // every effect once (applyProgram, and the editor when it lays out its rack panels)
    void applyStoredEffectOrder();

  private:
    void setDefaultEffectOrder();
    // Values posted by control threads: one word of flags per 32 slots says which slots
    // hold a value not yet applied.
    static constexpr int kPostedWords = (kNumSlots + 31) / 32;
    std::atomic<float> posted_[kNumSlots];
    std::atomic<uint32_t> postedFlags_[kPostedWords];
    std::atomic<uint8_t> postedNotesOff_{0};  // 1 release, 2 silence
    // Loads into this engine, one at a time (see selectProgram); other instances load
    // beside it.
    std::recursive_mutex loaderMutex_;
    // Zones in the map as the last load or clear left it, for selectProgram's test that
    // runs without the lock.
    std::atomic<int32_t> loadedZones_{0};

    void startVoice(int slot, int note, int velocity);
    int chooseVoice();
    void stealInto(int slot);
    void releasePlayingVoices();
    // Arpeggiator parameters; false for any other slot.
    bool setArpParameter(int index, float value);
    void arpTick(int32_t frame, double tickLength);
    void arpEmit(int status, int key, int32_t frame, int velocity);
    int arpLowestKey() const;
    void arpReleaseNotes();
    void renderPiece(int frames, float* fxL, float* fxR, float* dryL, float* dryR, int offset);
    // A voice's sub-block from its modulation to its output, in three parts so that several
    // voices can share the filter pass: the modulation, envelope coefficients and the read
    // samples; the filter; the envelopes and the output.
    struct VoicePiece {
        VoiceModulation m;
        AmpEnvelopeCoefs ampCoefs;
        FilterEnvelopeCoefs filterCoefs;
        bool pedalDown;
        double speed;
        float gainL, gainR, send;     // output targets at the end of the sub-block
        VoiceGroupKernel::Lane lane;  // filled in by fitsGroup()
        bool wetOnly;                 // everything goes to the effect bus (fitsGroup())
        alignas(16) float buffer[2 * kSubBlockFrames];
    };
    // Modulation, envelope coefficients, speed and output targets, then the samples.
    void controlVoice(Voice& v, int frames, int offset, VoicePiece& p);
    void readPiece(Voice& v, int frames, VoicePiece& p);
    // Whether the voice can go through the grouped pass, and its lane if so; changes nothing.
    bool fitsGroup(const Voice& v, int frames, VoicePiece& p) const;
    // The four voices' sub-blocks through VoiceGroupKernel, added into the effect bus.
    void renderGroup(Voice* const* group, VoicePiece* pieces, int frames, float* fxL, float* fxR,
                     float* dryL, float* dryR);
    // Voices that do not all fit: read, filtered and finished the separate way.
    void renderSeparately(Voice* const* group, VoicePiece* pieces, int count, int frames,
                          float* fxL, float* fxR, float* dryL, float* dryR);
    void finishVoice(Voice& v, int frames, VoicePiece& p, float* fxL, float* fxR, float* dryL,
                     float* dryR);
    void silenceVoice(Voice& v);
    void updateGlideCoef();

    // Modulation seams, filled in by the LFO, filter and matrix code: the per-voice pass
    // (LFOs and matrix, once per sub-block, before envelopes and pitch) and the filter pass
    // over the voice's interleaved scratch buffer (it also runs the filter envelope).
    void modulateVoice(Voice& v, int frames, int offset, VoiceModulation& m);
    // Sample-rate dependent parts of the LFOs and the filter.
    void setModulationSampleRate();
    ModGlobals modulationGlobals() const;
    void filterVoice(Voice& v, float* buffer, int frames, const VoiceModulation& m,
                     const FilterEnvelopeCoefs& env);
    // Filters the sub-blocks of a group of 2 or 4 voices side by side; each ends as
    // filterVoice() leaves it.
    void filterVoiceGroup(Voice* const* group, VoicePiece* pieces, int count, int frames);
};

}  // namespace corvane

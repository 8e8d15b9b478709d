#pragma once
// The synth engine: voice pool, sample map, patch store, modulation and effect rack.
//
// Threads: "audio" calls run only on the host's audio thread inside a block; "control"
// calls run on the host's or the editor's threads; "loader" calls run under the
// loading/renderBusy hand-over, so the audio thread stays out of the engine meanwhile.
#include <atomic>
#include <cstdint>
#include <memory>

#include "content/SampleMap.h"
#include "engine/Random.h"
#include "fx/DelayModulation.h"
#include "fx/EffectRack.h"
#include "fx/Module.h"
#include "shell/PatchRecord.h"

namespace corvane {

// Receives the values that applyProgram re-sends through the plug-in's setParameter.
using ParamSink = void (*)(void* context, int index, float value);

class Harrow : public Module {
public:
    Harrow();
    ~Harrow() override;
    Harrow(const Harrow&) = delete;
    Harrow& operator=(const Harrow&) = delete;

    // control (while the audio thread is stopped)
    void setSampleRate(float fs);
    void reset();
    // audio or control: release (hard = false) or silence everything (hard = true)
    void allNotesOff(bool hard);
    // any thread: one plain store per value
    void setParameter(int index, float value);
    void recallPatch();
    // loader: after a program's instrument was loaded
    void applyProgram();

    // audio
    void noteOn(int note, int velocity);
    void noteOff(int note);
    void runArpeggiator(int frames);
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

    PatchRecord& currentPatch() { return patches[currentProgram]; }
    int currentProgram = 0;
    std::unique_ptr<PatchRecord[]> patches;  // 128 records

    SampleMap map;
    std::atomic<int32_t> renderBusy{0};  // 1 while a block renders
    std::atomic<uint8_t> loading{0};     // 1 while the loader replaces the map
    uint8_t forceReload = 0;
    uint8_t bankFolderSet = 0;
    int32_t dataVersion = 20;
    int bendRangeUp = 2;
    int bendRangeDown = 2;
    int voiceCount = 12;
    // Effect rack slot order; the default order 0..5 is restored by applyProgram.
    int32_t effectOrder[6] = {0, 1, 2, 3, 4, 5};

    // Host facts the plug-in keeps current.
    double tempo = 120.0;
    bool hostIsOwnHost = false;
    ParamSink paramSink = nullptr;
    void* paramSinkContext = nullptr;

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

    Random random;
    EffectRack rack;
    DelayModulation delayModulation;
};

}  // namespace corvane

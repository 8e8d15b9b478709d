#pragma once
// A small VST 2.4 host: loads a plug-in library (.so or .dll), answers its callback and drives
// it exactly as a host would. Used by the integration tests and the render tool.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vst/VstAbi.h"

namespace corvane::testhost {

struct MidiMessage {
    int32_t deltaFrames = 0;
    uint8_t bytes[3] = {0, 0, 0};
};

struct HostOptions {
    std::string vendor = "Corvane Test Host";
    std::string product = "corvane-testhost";
    intptr_t versionAnswer = 2400;  // what audioMasterVersion answers (0: a host too old)
};

class Plugin {
  public:
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the library and creates an instance; null with *error set on failure.
    static std::unique_ptr<Plugin> load(const std::string& path, std::string* error,
                                        const HostOptions& options = {});
    // Creates an instance through an entry function linked into this program (a plug-in
    // built into a test, so that the test reaches its insides); null with *error set.
    static std::unique_ptr<Plugin> create(vst::PluginEntryProc entry, std::string* error,
                                          const HostOptions& options = {});

    vst::AEffect* effect() { return effect_; }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    // The usual start-up: open, sample rate, block size, resume.
    void start(double sampleRate, int32_t blockSize);
    void suspend();
    void resume();

    std::string effectName();
    std::string vendorString();
    std::string productString();
    std::string paramName(int32_t index);
    std::string paramDisplay(int32_t index);
    std::string paramLabel(int32_t index);
    std::string programName();
    std::string programNameIndexed(int32_t index, bool* ok = nullptr);
    std::string outputLabel(int32_t index, int32_t* flags = nullptr, bool* ok = nullptr);
    int32_t canDo(const std::string& what);
    float getParameter(int32_t index);
    void setParameter(int32_t index, float value);
    void setProgram(int32_t program);
    int32_t program();

    // Chunks: isProgram selects the program chunk (index 1) rather than the bank (0).
    std::vector<uint8_t> getChunk(bool isProgram);
    intptr_t setChunk(const void* data, size_t size, bool isProgram);

    // Sends MIDI for the next block (effProcessEvents), then processReplacing.
    void sendMidi(const std::vector<MidiMessage>& messages);
    void process(float* left, float* right, int32_t frames);
    // Renders `frames` frames in host blocks of blockSize, appending to out (interleaved
    // stereo); MIDI messages are delivered with the block they fall in.
    void render(int64_t frames, int32_t blockSize, const std::vector<MidiMessage>& midi,
                std::vector<float>& outLeft, std::vector<float>& outRight);

    // Host state the plug-in can query.
    double tempo = 120.0;
    bool tempoValid = true;
    double sampleRate = 44100.0;
    int32_t blockSize = 512;
    int64_t samplePos = 0;
    bool playing = true;
    // Position in quarter notes reported with the time info; when negative it is derived from
    // samplePos at the constant tempo (a host following a tempo map sets it per block).
    double ppqPos = -1.0;

    // What the plug-in told the host.
    std::vector<std::pair<int32_t, float>> automated;
    // Begin-edit, automate and end-edit calls in the order they came (opcode, index, value).
    struct Edit {
        int32_t opcode;
        int32_t index;
        float value;
    };
    std::vector<Edit> edits;
    std::pair<int32_t, int32_t> sizeWindow{0, 0};  // the last audioMasterSizeWindow
    std::vector<std::array<uint8_t, 3>> midiFromPlugin;
    bool wantsMidi = false;

  private:
    Plugin() = default;
    bool instantiate(vst::PluginEntryProc entry);
    static intptr_t callback(vst::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                             void* ptr, float opt);
    intptr_t answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

    void* library_ = nullptr;
    vst::AEffect* effect_ = nullptr;
    HostOptions options_;
    vst::VstTimeInfo timeInfo_{};
    std::vector<vst::VstMidiEvent> eventStore_;
    std::vector<uint8_t> eventsBlock_;
};

// Sum of squares of a buffer, for "is it silent" checks.
double energy(const std::vector<float>& samples);

}  // namespace corvane::testhost

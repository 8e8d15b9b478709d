#pragma once
// The plug-in object a host creates for each instance: host calls, the block loop that
// cuts host blocks into engine sub-blocks, parameters, programs and chunks, MIDI.
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/Harrow.h"
#include "patch/Slots.h"
#include "shell/AudioEffectBase.h"
#include "shell/EditorLink.h"
#include "shell/NoteEvent.h"

namespace corvane {

class VstSynth : public AudioEffectBase, private EngineClient {
  public:
    static constexpr int32_t kUniqueId = vst::fourCC('C', 'R', 'V', 'N');
    static constexpr int kNoteListSize = 256;
    static constexpr int kGuiQueueSize = 128;

    explicit VstSynth(vst::HostCallback host);
    ~VstSynth() override;

    // --- host calls -------------------------------------------------------------------
    void open() override;                        // control
    void setSampleRate(float sr) override;       // control, while stopped
    void setBlockSize(int32_t frames) override;  // control, while stopped
    void processReplacing(float** inputs, float** outputs, int32_t frames) override;  // audio
    int32_t processEvents(vst::VstEvents* events) override;                           // audio
    void setParameter(int32_t index, float value) override;                           // any
    float getParameter(int32_t index) override;                                       // any
    void setParameterAutomated(int32_t index, float value) override;                  // control
    void setProgram(int32_t program) override;                                        // control
    void setProgramName(const char* name) override;                                   // control
    void getProgramName(char* name) override;                                         // control
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    int32_t getChunk(void** data, bool isPreset) override;                   // control
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;  // control
    bool getProgramNameIndexed(int32_t category, int32_t index, char* text) override;
    bool getOutputProperties(int32_t index, vst::VstPinProperties* props) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t getVendorVersion() override { return 1; }
    intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) override;
    int32_t canDo(const char* text) override;
    // as setParameter, without telling the editor
    virtual void setParameterFromEditor(int32_t index, float value);
    // The editor window (user interface thread).
    bool editGetRect(vst::ERect** rect) override;
    bool editOpen(void* parentWindow) override;
    void editClose() override;
    void editIdle() override;

    // --- for the editor, the arpeggiator and the file menus -------------------------------
    void queueGuiNote(int status, int key, int velocity);                     // user interface
    void appendNote(int status, int key, int32_t deltaFrames, int velocity);  // audio
    void selectProgramIndexed(int index);                                     // control
    void applyArpPattern(int k);                                              // user interface
    // A value the user set in the editor: applied as setParameterFromEditor, then told to
    // the host like automation (host parameters) and echoed to a learned controller.
    void editParameter(int32_t index, float value);  // user interface
    EditorLink* editor() { return editor_.get(); }   // null when the build has no editor
    void learn(int slot);                            // user interface
    void forget(int slot);                           // user interface
    bool loadBankFile(const char* path);             // control
    bool loadProgramFile(const char* path);          // control
    bool saveBankFile(const char* path);             // control
    bool saveProgramFile(const char* path);          // control

    // Test seam: called after every engine sub-block with its length and frame offset.
    using RenderObserver = void (*)(void* context, int frames, int offset);
    void setRenderObserver(RenderObserver observer, void* context) {
        renderObserver_ = observer;
        renderObserverContext_ = context;
    }

    // --- state (public for the editor and the tests, as plain fields) ---------------------
    bool hostIsOwnHost = false;
    bool hostIsCockosOrZynewave = false;
    std::atomic<bool> inBlock{false};
    Harrow engine;
    uint8_t keyDown[128] = {};
    int32_t bankIndex = 0;
    int noteCount = 0;  // never above kNoteListSize (see appendNote)
    NoteEvent noteList[kNoteListSize];
    uint8_t ccOfParam[kStoredSlots];
    uint8_t paramOfCc[128];
    int32_t learnParam = -1;
    double tempo = 120.0;
    NoteEvent guiQueue[kGuiQueueSize];
    int32_t guiQueueWrite = 0;
    int32_t editorViewState[3] = {0, 13, 0};

  private:
    friend class VstSynthTestAccess;
    // One part of a host block; nextNote is the note-list walk, carried across the parts.
    void renderSegment(float** outputs, int32_t start, int32_t frames, int32_t blockFrames,
                       int& nextNote);
    void renderPieces(float** outputs, int32_t from, int32_t to, int32_t segmentStart);
    void playNote(const NoteEvent& e);
    void handleNoteEvent(int status, int d1, int d2, int32_t deltaFrames, bool fromHost);
    void handleController(int cc, int value);
    void setDefaultControllerMap();
    void rebuildCcOfParam();
    void controllerEcho(int32_t index, float value);
    void programValue(int index, float value) override;                       // loader
    void arpNote(int status, int key, int32_t frame, int velocity) override;  // audio
    void placeArpNote(int status, int key, int32_t frame, int velocity);      // audio

    std::unique_ptr<float[]> dryL_, dryR_;
    int32_t dryCapacity_ = 0;
    std::unique_ptr<uint8_t[]> chunkBuffer_;
    vst::VstMidiEvent echoEvent_{};
    vst::VstEvents echoEvents_{};
    bool guiArpRestartOpen_ = true;  // editor notes may still restart the arpeggiator
    std::unique_ptr<EditorLink> editor_;
    int32_t blockFrames_ = 0;  // length of the host block being rendered
    RenderObserver renderObserver_ = nullptr;
    void* renderObserverContext_ = nullptr;
};

}  // namespace corvane

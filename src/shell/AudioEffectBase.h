#pragma once
// The plug-in side of the VST 2.4 interface: owns the AEffect record, turns dispatcher
// opcodes into virtual calls with the published defaults, and wraps the host callback.
// Every entry from the host is guarded: nothing thrown inside ever reaches the host.
#include <cstdint>

#include "vst/VstAbi.h"

namespace corvane {

class AudioEffectBase {
  public:
    AudioEffectBase(vst::HostCallback host, int32_t numPrograms, int32_t numParams);
    virtual ~AudioEffectBase();
    AudioEffectBase(const AudioEffectBase&) = delete;
    AudioEffectBase& operator=(const AudioEffectBase&) = delete;

    vst::AEffect* getAeffect() { return &effect_; }
    static AudioEffectBase* fromAeffect(vst::AEffect* e);

    // Host calls (the thread is the host's choice unless noted).
    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume();
    virtual void setSampleRate(float sr) { sampleRate = sr; }
    virtual void setBlockSize(int32_t frames) { blockSize = frames; }
    virtual void processReplacing(float** inputs, float** outputs, int32_t frames) = 0;  // audio
    virtual void setParameter(int32_t, float) {}
    virtual float getParameter(int32_t) { return 0.0f; }
    virtual void setParameterAutomated(int32_t index, float value);
    virtual void setProgram(int32_t program) { curProgram = program; }
    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgramName(const char*) {}
    virtual void getProgramName(char* name) { name[0] = 0; }
    virtual void getParameterLabel(int32_t, char* label) { label[0] = 0; }
    virtual void getParameterDisplay(int32_t, char* text) { text[0] = 0; }
    virtual void getParameterName(int32_t, char* text) { text[0] = 0; }
    virtual int32_t getChunk(void**, bool) { return 0; }
    virtual int32_t setChunk(void*, int32_t, bool) { return 0; }
    virtual bool getProgramNameIndexed(int32_t, int32_t, char*) { return false; }
    virtual bool getOutputProperties(int32_t, vst::VstPinProperties*) { return false; }
    virtual int32_t processEvents(vst::VstEvents*) { return 0; }  // audio
    virtual bool getEffectName(char*) { return false; }
    virtual bool getVendorString(char*) { return false; }
    virtual bool getProductString(char*) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual intptr_t vendorSpecific(int32_t, intptr_t, void*, float) { return 0; }
    virtual int32_t canDo(const char*) { return 0; }
    virtual int32_t getPlugCategory();
    // The editor window (user interface thread); hosts only ask when effFlagsHasEditor is set.
    virtual bool editGetRect(vst::ERect** rect) {
        if (rect) *rect = nullptr;
        return false;
    }
    virtual bool editOpen(void*) { return false; }
    virtual void editClose() {}
    virtual void editIdle() {}

    // Calls into the host.
    intptr_t callHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);
    bool getHostVendorString(char* text);  // text holds at least 64 bytes
    vst::VstTimeInfo* getTimeInfo(int32_t filter);
    bool sendVstEventsToHost(vst::VstEvents* events);

    float getSampleRate() const { return sampleRate; }
    int32_t getBlockSize() const { return blockSize; }

  protected:
    void setNumInputs(int32_t n) { effect_.numInputs = n; }
    void setNumOutputs(int32_t n) { effect_.numOutputs = n; }
    void setUniqueID(int32_t id) { effect_.uniqueID = id; }
    void setFlag(int32_t flag, bool on);

    vst::HostCallback audioMaster;
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t curProgram = 0;

  private:
    intptr_t dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    static intptr_t dispatcherProc(vst::AEffect* e, int32_t opcode, int32_t index, intptr_t value,
                                   void* ptr, float opt);
    static void processProc(vst::AEffect* e, float** in, float** out, int32_t frames);
    static void processReplacingProc(vst::AEffect* e, float** in, float** out, int32_t frames);
    static void setParameterProc(vst::AEffect* e, int32_t index, float value);
    static float getParameterProc(vst::AEffect* e, int32_t index);

    vst::AEffect effect_;
};

}  // namespace corvane

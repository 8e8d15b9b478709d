#include "TestHost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/SharedLibrary.h"

namespace corvane::testhost {

namespace {
using EntryProc = vst::PluginEntryProc;
// The plug-in may call back while its entry function runs, before we know its AEffect.
thread_local Plugin* tCreating = nullptr;

std::string fromBuffer(const char* buffer) {
    return std::string(buffer);
}
}  // namespace

std::unique_ptr<Plugin> Plugin::load(const std::string& path, std::string* error,
                                     const HostOptions& options) {
    std::unique_ptr<Plugin> p(new Plugin());
    p->options_ = options;
    p->library_ = platform::loadSharedLibrary(path, error);
    if (!p->library_) return nullptr;
    // A console host: the plug-in's message boxes become stderr lines.
    platform::routeLibraryMessagesToStderr(p->library_);
    auto entry =
        reinterpret_cast<EntryProc>(platform::sharedLibrarySymbol(p->library_, "VSTPluginMain"));
    if (!entry)
        entry = reinterpret_cast<EntryProc>(platform::sharedLibrarySymbol(p->library_, "main"));
    if (!entry) {
        if (error) *error = path + " has no VST 2.4 entry function";
        return nullptr;
    }
    if (!p->instantiate(entry)) {
        if (error) *error = path + " did not create a plug-in";
        return nullptr;
    }
    return p;
}

std::unique_ptr<Plugin> Plugin::create(vst::PluginEntryProc entry, std::string* error,
                                       const HostOptions& options) {
    std::unique_ptr<Plugin> p(new Plugin());
    p->options_ = options;
    if (!entry || !p->instantiate(entry)) {
        if (error) *error = "the entry function did not create a plug-in";
        return nullptr;
    }
    return p;
}

bool Plugin::instantiate(vst::PluginEntryProc entry) {
    tCreating = this;
    vst::AEffect* e = entry(&Plugin::callback);
    tCreating = nullptr;
    if (!e || e->magic != vst::kEffectMagic) return false;
    effect_ = e;
    e->user = this;
    return true;
}

Plugin::~Plugin() {
    if (effect_) {
        dispatch(vst::effMainsChanged, 0, 0);
        dispatch(vst::effClose);
        effect_ = nullptr;
    }
    platform::unloadSharedLibrary(library_);
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (!effect_) return 0;
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void Plugin::start(double rate, int32_t block) {
    sampleRate = rate;
    blockSize = block;
    dispatch(vst::effOpen);
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    dispatch(vst::effSetBlockSize, 0, block);
    resume();
}

void Plugin::suspend() {
    dispatch(vst::effMainsChanged, 0, 0);
}
void Plugin::resume() {
    dispatch(vst::effMainsChanged, 0, 1);
}

std::string Plugin::effectName() {
    char b[256] = {};
    dispatch(vst::effGetEffectName, 0, 0, b);
    return fromBuffer(b);
}
std::string Plugin::vendorString() {
    char b[256] = {};
    dispatch(vst::effGetVendorString, 0, 0, b);
    return fromBuffer(b);
}
std::string Plugin::productString() {
    char b[256] = {};
    dispatch(vst::effGetProductString, 0, 0, b);
    return fromBuffer(b);
}
std::string Plugin::paramName(int32_t index) {
    char b[256] = {};
    dispatch(vst::effGetParamName, index, 0, b);
    return fromBuffer(b);
}
std::string Plugin::paramDisplay(int32_t index) {
    char b[256] = {};
    dispatch(vst::effGetParamDisplay, index, 0, b);
    return fromBuffer(b);
}
std::string Plugin::paramLabel(int32_t index) {
    char b[256] = {};
    dispatch(vst::effGetParamLabel, index, 0, b);
    return fromBuffer(b);
}
std::string Plugin::programName() {
    char b[256] = {};
    dispatch(vst::effGetProgramName, 0, 0, b);
    return fromBuffer(b);
}
std::string Plugin::programNameIndexed(int32_t index, bool* ok) {
    char b[256] = {};
    const intptr_t r = dispatch(vst::effGetProgramNameIndexed, index, 0, b);
    if (ok) *ok = r != 0;
    return fromBuffer(b);
}
std::string Plugin::outputLabel(int32_t index, int32_t* flags, bool* ok) {
    vst::VstPinProperties props{};
    const intptr_t r = dispatch(vst::effGetOutputProperties, index, 0, &props);
    if (ok) *ok = r != 0;
    if (flags) *flags = props.flags;
    props.label[63] = 0;
    return fromBuffer(props.label);
}
int32_t Plugin::canDo(const std::string& what) {
    return static_cast<int32_t>(dispatch(vst::effCanDo, 0, 0, const_cast<char*>(what.c_str())));
}
float Plugin::getParameter(int32_t index) {
    return effect_->getParameter(effect_, index);
}
void Plugin::setParameter(int32_t index, float value) {
    effect_->setParameter(effect_, index, value);
}
void Plugin::setProgram(int32_t p) {
    dispatch(vst::effSetProgram, 0, p);
}
int32_t Plugin::program() {
    return static_cast<int32_t>(dispatch(vst::effGetProgram));
}

std::vector<uint8_t> Plugin::getChunk(bool isProgram) {
    void* data = nullptr;
    const intptr_t size = dispatch(vst::effGetChunk, isProgram ? 1 : 0, 0, &data);
    if (size <= 0 || !data) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

intptr_t Plugin::setChunk(const void* data, size_t size, bool isProgram) {
    return dispatch(vst::effSetChunk, isProgram ? 1 : 0, static_cast<intptr_t>(size),
                    const_cast<void*>(data));
}

void Plugin::sendMidi(const std::vector<MidiMessage>& messages) {
    eventStore_.assign(messages.size(), vst::VstMidiEvent{});
    const size_t n = messages.size();
    eventsBlock_.assign(sizeof(vst::VstEvents) + sizeof(vst::VstEvent*) * (n > 2 ? n - 2 : 0), 0);
    auto* events = reinterpret_cast<vst::VstEvents*>(eventsBlock_.data());
    events->numEvents = static_cast<int32_t>(n);
    for (size_t i = 0; i < n; ++i) {
        vst::VstMidiEvent& e = eventStore_[i];
        e.type = vst::kVstMidiType;
        e.byteSize = sizeof(vst::VstMidiEvent);
        e.deltaFrames = messages[i].deltaFrames;
        for (int k = 0; k < 3; ++k)
            e.midiData[k] = static_cast<char>(messages[i].bytes[k]);
        events->events[i] = reinterpret_cast<vst::VstEvent*>(&e);
    }
    dispatch(vst::effProcessEvents, 0, 0, events);
}

void Plugin::process(float* left, float* right, int32_t frames) {
    float* outs[2] = {left, right};
    float* ins[2] = {nullptr, nullptr};
    effect_->processReplacing(effect_, ins, outs, frames);
    samplePos += frames;
}

void Plugin::render(int64_t frames, int32_t block, const std::vector<MidiMessage>& midi,
                    std::vector<float>& outLeft, std::vector<float>& outRight) {
    std::vector<float> l(static_cast<size_t>(block)), r(static_cast<size_t>(block));
    size_t next = 0;
    for (int64_t done = 0; done < frames; done += block) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
        std::vector<MidiMessage> now;
        while (next < midi.size() && midi[next].deltaFrames < done + n) {
            MidiMessage m = midi[next++];
            m.deltaFrames = static_cast<int32_t>(std::max<int64_t>(0, m.deltaFrames - done));
            now.push_back(m);
        }
        sendMidi(now);
        process(l.data(), r.data(), n);
        outLeft.insert(outLeft.end(), l.begin(), l.begin() + n);
        outRight.insert(outRight.end(), r.begin(), r.begin() + n);
    }
}

intptr_t Plugin::callback(vst::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                          void* ptr, float opt) {
    Plugin* self = effect && effect->user ? static_cast<Plugin*>(effect->user) : tCreating;
    if (!self) return opcode == vst::audioMasterVersion ? 2400 : 0;
    return self->answer(opcode, index, value, ptr, opt);
}

intptr_t Plugin::answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    switch (opcode) {
        case vst::audioMasterVersion:
            return options_.versionAnswer;
        case vst::audioMasterAutomate:
            automated.emplace_back(index, opt);
            edits.push_back({opcode, index, opt});
            return 0;
        case vst::audioMasterBeginEdit:
        case vst::audioMasterEndEdit:
            edits.push_back({opcode, index, 0.0f});
            return 1;
        case vst::audioMasterSizeWindow:
            sizeWindow = {index, static_cast<int32_t>(value)};
            return 1;
        case vst::audioMasterWantMidi:
            wantsMidi = true;
            return 1;
        case vst::audioMasterGetTime: {
            std::memset(&timeInfo_, 0, sizeof timeInfo_);
            timeInfo_.sampleRate = sampleRate;
            timeInfo_.samplePos = static_cast<double>(samplePos);
            timeInfo_.tempo = tempo;
            timeInfo_.ppqPos =
                ppqPos >= 0.0 ? ppqPos : static_cast<double>(samplePos) / sampleRate * tempo / 60.0;
            timeInfo_.timeSigNumerator = 4;
            timeInfo_.timeSigDenominator = 4;
            timeInfo_.flags = vst::kVstPpqPosValid | vst::kVstTimeSigValid |
                              (playing ? vst::kVstTransportPlaying : 0) |
                              (tempoValid ? vst::kVstTempoValid : 0);
            return reinterpret_cast<intptr_t>(&timeInfo_);
        }
        case vst::audioMasterProcessEvents: {
            auto* events = static_cast<vst::VstEvents*>(ptr);
            if (!events) return 0;
            for (int32_t i = 0; i < events->numEvents; ++i) {
                const vst::VstEvent* e = events->events[i];
                if (!e || e->type != vst::kVstMidiType) continue;
                const auto* m = reinterpret_cast<const vst::VstMidiEvent*>(e);
                midiFromPlugin.push_back({static_cast<uint8_t>(m->midiData[0]),
                                          static_cast<uint8_t>(m->midiData[1]),
                                          static_cast<uint8_t>(m->midiData[2])});
            }
            return 1;
        }
        case vst::audioMasterGetSampleRate:
            return static_cast<intptr_t>(sampleRate);
        case vst::audioMasterGetBlockSize:
            return blockSize;
        case vst::audioMasterGetCurrentProcessLevel:
            return 0;
        case vst::audioMasterGetVendorString:
            if (ptr) std::snprintf(static_cast<char*>(ptr), 64, "%s", options_.vendor.c_str());
            return 1;
        case vst::audioMasterGetProductString:
            if (ptr) std::snprintf(static_cast<char*>(ptr), 64, "%s", options_.product.c_str());
            return 1;
        case vst::audioMasterGetVendorVersion:
            return 1;
        case vst::audioMasterCanDo: {
            const char* what = static_cast<const char*>(ptr);
            if (!what) return 0;
            static const char* kYes[] = {"sendVstEvents",       "sendVstMidiEvent",
                                         "sendVstTimeInfo",     "receiveVstEvents",
                                         "receiveVstMidiEvent", "sizeWindow"};
            for (const char* y : kYes)
                if (std::strcmp(what, y) == 0) return 1;
            return 0;
        }
        case vst::audioMasterIOChanged:
            return 0;
        default:
            (void)value;
            return 0;
    }
}

double energy(const std::vector<float>& samples) {
    double e = 0.0;
    for (float s : samples)
        e += static_cast<double>(s) * s;
    return e;
}

}  // namespace corvane::testhost

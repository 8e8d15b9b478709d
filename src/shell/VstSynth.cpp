#include "shell/VstSynth.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/FpEnvironment.h"
#include "platform/Threads.h"
#include "shell/Text.h"

namespace corvane {

namespace {
constexpr int kMaxSubBlock = 64;

void copyName(char* out, const char* name) {
    copyText(out, name, 32);
}

}  // namespace

VstSynth::VstSynth(vst::HostCallback host) : AudioEffectBase(host, kNumPrograms, kNumParams) {
    guiQueueWrite = 0;
    bankIndex = 0;
    setDefaultControllerMap();
    curProgram = 0;
    engine.client = this;
    if (host) {
        setNumInputs(0);
        setNumOutputs(2);
        setFlag(vst::effFlagsCanReplacing, true);
        setFlag(vst::effFlagsProgramChunks, true);
        setFlag(vst::effFlagsIsSynth, true);
        setUniqueID(kUniqueId);
    }
    if (EditorFactory make = editorFactory()) {
        try {
            editor_.reset(make(*this));
        } catch (...) {
            editor_.reset();  // the plug-in runs without an editor
        }
    }
    setFlag(vst::effFlagsHasEditor, editor_ != nullptr);
    for (int i = 0; i < 6; ++i)
        engine.effectOrder[i] = i;

    chunkBuffer_.reset(new uint8_t[kBankChunkSize]);
    echoEvent_.type = vst::kVstMidiType;
    echoEvent_.byteSize = sizeof(vst::VstMidiEvent);
    echoEvents_.numEvents = 1;
    echoEvents_.events[0] = reinterpret_cast<vst::VstEvent*>(&echoEvent_);
    setBlockSize(blockSize);
    engine.prepare(sampleRate, blockSize);
}

VstSynth::~VstSynth() {
    if (editor_) {
        if (editor_->isOpen()) editor_->close();
        editor_.reset();
    }
    curProgram = 0;
}

bool VstSynth::editGetRect(vst::ERect** rect) {
    if (rect) *rect = nullptr;
    return editor_ && rect && editor_->getRect(rect);
}

bool VstSynth::editOpen(void* parentWindow) {
    return editor_ && editor_->open(parentWindow);
}

void VstSynth::editClose() {
    if (editor_) editor_->close();
}

void VstSynth::editIdle() {
    if (editor_) editor_->idle();
}

void VstSynth::open() {
    char vendor[256] = {};
    getHostVendorString(vendor);
    hostIsOwnHost = std::strcmp(vendor, "Tessel Audio") == 0;
    hostIsCockosOrZynewave =
        std::strcmp(vendor, "Cockos") == 0 || std::strcmp(vendor, "Zynewave") == 0;
    engine.hostIsOwnHost = hostIsOwnHost;
}

void VstSynth::setSampleRate(float sr) {
    if (!(sr > 0.0f)) return;  // a rate of 0 or NaN would poison every table
    AudioEffectBase::setSampleRate(sr);
    engine.prepare(sr, blockSize);
    engine.reset();
    engine.recallPatch();
}

void VstSynth::setBlockSize(int32_t frames) {
    if (frames <= 0) return;
    AudioEffectBase::setBlockSize(frames);
    if (frames == dryCapacity_) return;
    std::unique_ptr<float[]> l(new (std::nothrow) float[frames]());
    std::unique_ptr<float[]> r(new (std::nothrow) float[frames]());
    if (!l || !r) return;  // keep the buffers we have; longer blocks are rendered in parts
    dryL_ = std::move(l);
    dryR_ = std::move(r);
    dryCapacity_ = frames;
}

void VstSynth::programValue(int index, float value) {
    setParameter(index, value);
}

void VstSynth::arpNote(int status, int key, int32_t frame, int velocity) {
    placeArpNote(status, key, frame, velocity);
}

// An arpeggiator note joins the list where the block loop reaches its frame: the loop plays
// the list in order, each event at its offset or at the latest offset before it (the list is
// not sorted), so a host note listed earlier but due later must not hold it back. The note
// goes before the first event that the loop would play after its frame.
void VstSynth::placeArpNote(int status, int key, int32_t frame, int velocity) {
    const int before = noteCount;
    appendNote(status, key, frame, velocity);
    if (noteCount != before + 1) return;  // the list was full: its own rules placed the note
    int32_t reached = 0;
    int at = before;
    for (int i = 0; i < before; ++i) {
        const int32_t d = noteList[i].deltaFrames;
        if (d >= blockFrames_) continue;  // never played
        if (d > reached) reached = d;
        if (reached > frame) {
            at = i;
            break;
        }
    }
    if (at == before) return;
    const NoteEvent e = noteList[before];
    std::memmove(&noteList[at + 1], &noteList[at], sizeof(NoteEvent) * (before - at));
    noteList[at] = e;
}

void VstSynth::processReplacing(float**, float** outputs, int32_t frames) {
    platform::FpEnvironmentGuard fp;
    inBlock.store(true);
    engine.renderBusy.exchange(1);
    if (engine.loading.load()) {
        std::memset(outputs[0], 0, sizeof(float) * frames);
        std::memset(outputs[1], 0, sizeof(float) * frames);
        noteCount = 0;
        inBlock.store(false);
        engine.renderBusy.exchange(0);
        return;
    }
    // Parameter values and requests that control threads posted since the last block.
    engine.applyPosted();

    // Notes from the editor's keyboard, queued since the last block.
    const int queued = guiQueueWrite;
    guiArpRestartOpen_ = true;
    for (int i = 0; i < queued && i < kGuiQueueSize; ++i) {
        const NoteEvent& e = guiQueue[i];
        const int s = e.status & 0xF0;
        if (s == 0x80 || s == 0x90) handleNoteEvent(s, e.data1, e.data2, 0, false);
    }
    guiQueueWrite = 0;

    const vst::VstTimeInfo* time = getTimeInfo(vst::kVstTempoValid);
    tempo =
        (time && (time->flags & vst::kVstTempoValid) && time->tempo > 0.0) ? time->tempo : 120.0;
    engine.tempo = tempo;

    engine.beginArpBlock();
    blockFrames_ = frames;

    // A host block longer than the one it announced, or longer than the arpeggiator's
    // buffers, is rendered as consecutive parts that fit both. One walk of the note list
    // runs through all parts, so the notes play in list order just as in a block rendered
    // whole.
    int32_t part = dryCapacity_ > 0 ? dryCapacity_ : frames;
    if (part > kArpBufferFrames) part = kArpBufferFrames;
    int nextNote = 0;
    for (int32_t start = 0; start < frames; start += part) {
        const int32_t len = frames - start < part ? frames - start : part;
        float* io[2] = {outputs[0] + start, outputs[1] + start};
        renderSegment(io, start, len, frames, nextNote);
    }

    inBlock.store(false);
    noteCount = 0;
    engine.arpRestartFrame = -1;  // a restart at or past the block end is not carried over
    engine.renderBusy.exchange(0);
}

void VstSynth::renderSegment(float** io, int32_t start, int32_t n, int32_t blockFrames,
                             int& nextNote) {
    // The arpeggiator's notes for this part join the list ahead of the walk (placeArpNote).
    engine.runArpeggiator(n, start);
    engine.beginBlock();

    std::memset(io[0], 0, sizeof(float) * n);
    std::memset(io[1], 0, sizeof(float) * n);
    std::memset(dryL_.get(), 0, sizeof(float) * n);
    std::memset(dryR_.get(), 0, sizeof(float) * n);

    // Walk the note list in arrival order; an event whose offset lies before what has
    // been rendered (the list is not sorted) plays at the current frame. An event due in a
    // later part stops the walk there: it and every event listed after it wait for that
    // part, so a note-off listed after its note-on never plays before it.
    int32_t done = 0;
    for (; nextNote < noteCount; ++nextNote) {
        const NoteEvent& e = noteList[nextNote];
        if (e.deltaFrames >= blockFrames) continue;  // past the block end: never played
        const int32_t at = e.deltaFrames - start;
        if (at >= n) break;
        if (at > done) {
            renderPieces(io, done, at, start);
            done = at;
        }
        playNote(e);
    }
    renderPieces(io, done, n, start);

    engine.updateGlobalModulation();
    engine.processEffects(n, io, engine.effectOrder, static_cast<float>(tempo));
    const float* dl = dryL_.get();
    const float* dr = dryR_.get();
    for (int32_t i = 0; i < n; ++i) {
        io[0][i] += dl[i];
        io[1][i] += dr[i];
    }
    engine.advanceEffectPhase(n);
    engine.applyMasterGain(n, io);
}

void VstSynth::renderPieces(float** io, int32_t from, int32_t to, int32_t segmentStart) {
    while (from < to) {
        const int32_t piece = to - from < kMaxSubBlock ? to - from : kMaxSubBlock;
        engine.renderVoices(piece, io[0] + from, io[1] + from, dryL_.get() + from,
                            dryR_.get() + from, segmentStart + from);
        if (renderObserver_) renderObserver_(renderObserverContext_, piece, segmentStart + from);
        from += piece;
    }
}

void VstSynth::playNote(const NoteEvent& e) {
    const int key = e.data1 & 0x7F;
    const int velocity = e.data2 & 0x7F;
    const bool on = !(e.status == 0x80 || velocity == 0);
    if (on)
        engine.noteOn(key, velocity);
    else
        engine.noteOff(key);
    if (editor_) editor_->noteReported(key, on);
}

void VstSynth::setProgram(int32_t program) {
    bankIndex = 0;
    curProgram = program & 127;
    engine.selectProgram(curProgram);
    if (editor_) editor_->programChanged();
}

void VstSynth::selectProgramIndexed(int index) {
    bankIndex = index >= 0 ? index / 128 : 0;  // a negative page would address no program
    setProgram(index);
}

void VstSynth::setProgramName(const char* name) {
    char* field = engine.currentPatch().name;
    std::memset(field, 0, 32);
    copyText(field, name, 32);
    if (editor_) editor_->programNameChanged();
}

void VstSynth::getProgramName(char* name) {
    copyName(name, engine.currentPatch().name);
}

bool VstSynth::getProgramNameIndexed(int32_t, int32_t index, char* text) {
    if (index < 0 || index >= kNumPrograms) return false;
    // The store holds one bank of 128; a second bank page has no programs of its own.
    const int32_t program = bankIndex * 128 + index;
    if (program < 0 || program >= kNumPrograms) return false;
    copyName(text, engine.patches[program].name);
    return true;
}

bool VstSynth::getOutputProperties(int32_t index, vst::VstPinProperties* props) {
    if (index < 0 || index > 1) return false;
    std::memset(props, 0, sizeof *props);
    std::snprintf(props->label, sizeof props->label, "Vstx %1d", index + 1);
    props->flags = vst::kVstPinIsActive | vst::kVstPinIsStereo;
    return true;
}

bool VstSynth::getEffectName(char* name) {
    std::strcpy(name, "Corvane");
    return true;
}

bool VstSynth::getVendorString(char* text) {
    std::strcpy(text, "Tessel Audio");
    return true;
}

bool VstSynth::getProductString(char* text) {
    std::strcpy(text, "Corvane");
    return true;
}

intptr_t VstSynth::vendorSpecific(int32_t index, intptr_t value, void*, float opt) {
    if (!hostIsOwnHost) return 0;
    // The own host's mouse wheel: x in the low 16 bits of value, y in the high 16 bits.
    if (index == vst::fourCC('W', 'h', 'e', 'e') && editor_) {
        const int x = static_cast<int16_t>(value & 0xFFFF);
        const int y = static_cast<int16_t>((value >> 16) & 0xFFFF);
        editor_->hostWheel(x, y, opt);
    }
    return 0;
}

int32_t VstSynth::canDo(const char* text) {
    if (std::strcmp(text, "receiveVstEvents") == 0 ||
        std::strcmp(text, "receiveVstMidiEvent") == 0 ||
        std::strcmp(text, "receiveVstTimeInfo") == 0)
        return 1;
    return -1;
}

void VstSynth::queueGuiNote(int status, int key, int velocity) {
    // Wait until no block is rendering: compare-exchange (1, 1) succeeds while busy.
    for (int32_t expected = 1; engine.renderBusy.compare_exchange_strong(expected, 1);
         expected = 1) {
        platform::sleepMs(1);
    }
    NoteEvent& e = guiQueue[guiQueueWrite & (kGuiQueueSize - 1)];
    e.deltaFrames = 0;
    e.status = static_cast<uint8_t>(status);
    e.data1 = static_cast<uint8_t>(key & 0x7F);
    e.data2 = static_cast<uint8_t>(velocity & 0x7F);
    guiQueueWrite = (guiQueueWrite + 1) & (kGuiQueueSize - 1);
}

}  // namespace corvane

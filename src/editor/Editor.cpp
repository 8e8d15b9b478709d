#include "editor/Editor.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "content/Loader.h"
#include "net/News.h"
#include "patch/BuiltinPatches.h"
#include "patch/ParamInfo.h"
#include "shell/VstSynth.h"

namespace corvane::editor {

static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

ADEditor::ADEditor(VstSynth& synth, net::NewsBoard* newsBoard, std::string newsUrl)
    : synth_(synth),
      newsBoard_(newsBoard ? *newsBoard : net::NewsBoard::process()),
      newsUrl_(newsUrl.empty() ? net::defaultNewsUrl() : std::move(newsUrl)) {
    for (auto& v : values_)
        v.store(0.0f, std::memory_order_relaxed);
    for (auto& d : dirtySlots_)
        d.store(0, std::memory_order_relaxed);
    for (auto& n : noteShown_)
        n.store(0, std::memory_order_relaxed);
    values_[kPitchBendSlot].store(0.5f, std::memory_order_relaxed);  // the wheel at rest
    buildLayout();
}

ADEditor::~ADEditor() {
    close();
}

// ---- lifecycle ---------------------------------------------------------------------------

bool ADEditor::open(void* parentWindow) {
    if (window_) close();
    if (!parentWindow) return false;
    reloadFromPatch();
    int32_t& zoom = synth_.editorViewState[2];
    if (zoom < 0 || zoom > 2) zoom = 0;
    const double z = zoomFactor();
    window_ = createNativeWindow(parentWindow, static_cast<int>(kWidth * z),
                                 static_cast<int>(kHeight * z), *this);
    if (!window_) return false;
    // The first window opened on the board starts its fetch; later ones show what it found.
    news_ = std::make_unique<net::NewsLine>(newsBoard_, newsUrl_);
    news_->editorOpened();
    newsShown_ = news_->hasNews();
    window_->invalidate();
    return true;
}

void ADEditor::close() {
    if (clickedKey_ >= 0) releaseClickedKey();
    if (bendDrag_ >= 0) releaseBend();
    if (dragControl_ >= 0) endEdit(controls_[dragControl_].slot);
    dragControl_ = -1;
    dragEffect_ = -1;
    popup_.reset();
    browser_.reset();
    editingName_ = false;
    // A fetch still running is cancelled here; its completion never reaches this editor.
    news_.reset();
    window_.reset();
}

bool ADEditor::getRect(vst::ERect** rect) {
    const double z = zoomFactor();
    rect_.top = 0;
    rect_.left = 0;
    rect_.bottom = static_cast<int16_t>(kHeight * z);
    rect_.right = static_cast<int16_t>(kWidth * z);
    *rect = &rect_;
    return true;
}

void ADEditor::idle() {
    if (!window_) return;
    bool changed = false;
    if (programDirty_.exchange(false, std::memory_order_acquire)) {
        reloadFromPatch();
        changed = true;
    }
    if (nameDirty_.exchange(false, std::memory_order_acquire)) changed = true;
    if (keysDirty_.exchange(false, std::memory_order_acquire)) changed = true;
    for (auto& d : dirtySlots_)
        if (d.exchange(0, std::memory_order_acquire)) changed = true;
    if (page() == 3 && synth_.engine.anyKeyDown) changed = true;  // the playing step moves
    if (synth_.learnParam != shownLearn_) {  // a controller completed MIDI learn
        shownLearn_ = synth_.learnParam;
        changed = true;
    }
    if (!newsShown_ && news_ && news_->hasNews()) {  // the fetch has delivered
        newsShown_ = true;
        changed = true;
    }
    if (changed) window_->invalidate();
    window_->pump();
}

int ADEditor::page() const {
    const int p = synth_.editorViewState[0];
    return p >= 0 && p < kPages ? p : 0;
}

double ADEditor::zoomFactor() const {
    switch (synth_.editorViewState[2]) {
        case 1:
            return 1.5;
        case 2:
            return 2.0;
        default:
            return 1.0;
    }
}

void ADEditor::setZoom(int zoom) {
    if (zoom < 0 || zoom > 2) zoom = 0;
    synth_.editorViewState[2] = zoom;
    const double z = zoomFactor();
    const int w = static_cast<int>(kWidth * z), h = static_cast<int>(kHeight * z);
    synth_.callHost(vst::audioMasterSizeWindow, w, h);
    if (window_) {
        window_->resize(w, h);
        window_->invalidate();
    }
}

void ADEditor::setPage(int p) {
    if (p < 0) p = kPages - 1;
    if (p >= kPages) p = 0;
    synth_.editorViewState[0] = p;
    focused_ = -1;
    hovered_ = -1;
    if (window_) window_->invalidate();
}

// ---- notifications (any thread) ---------------------------------------------------------

void ADEditor::parameterChanged(int slot, float v) {
    if (slot < 0 || slot >= kNumSlots) return;
    values_[slot].store(v, std::memory_order_relaxed);
    dirtySlots_[slot >> 6].fetch_or(uint64_t{1} << (slot & 63), std::memory_order_release);
}

void ADEditor::programChanged() {
    programDirty_.store(true, std::memory_order_release);
}

void ADEditor::programNameChanged() {
    nameDirty_.store(true, std::memory_order_release);
}

void ADEditor::noteReported(int key, bool on) {
    noteShown_[key & 127].store(on ? 1 : 0, std::memory_order_relaxed);
    keysDirty_.store(true, std::memory_order_release);
}

void ADEditor::keyboardChanged() {
    programDirty_.store(true, std::memory_order_release);
}

void ADEditor::hostWheel(int x, int y, float distance) {
    // The own host reports screen positions; the editor's window sits where the pointer
    // last was, so the control under the pointer takes the wheel.
    (void)x;
    (void)y;
    MouseEvent e;
    e.x = mouseX_ * zoomFactor();
    e.y = mouseY_ * zoomFactor();
    wheel(e, distance > 0 ? 1.0 : (distance < 0 ? -1.0 : 0.0));
}

// ---- values and gestures (user interface thread) ----------------------------------------

float ADEditor::value(int slot) const {
    if (slot < 0 || slot >= kNumSlots) return 0.0f;
    return values_[slot].load(std::memory_order_relaxed);
}

void ADEditor::reloadFromPatch() {
    const PatchRecord& patch = synth_.engine.currentPatch();
    for (int i = 0; i < kStoredSlots; ++i)
        values_[i].store(patch.slots[i], std::memory_order_relaxed);
    std::memcpy(keyMap_, synth_.engine.map.keyMap, sizeof keyMap_);
    std::string file(patch.sampleFile, strnlen(patch.sampleFile, sizeof patch.sampleFile));
    instrumentName_ = displayName(file, true, 64);
    applyStoredEffectOrder();
}

// The rack runs in the patch's own order once the editor lays out its panels, by the
// engine's rule (an order that names every effect once).
void ADEditor::applyStoredEffectOrder() {
    synth_.engine.applyStoredEffectOrder();
}

void ADEditor::moveEffect(int effect, int toPosition) {
    int order[6];
    for (int i = 0; i < 6; ++i)
        order[i] = synth_.engine.effectOrder[i];
    int from = -1;
    for (int i = 0; i < 6; ++i)
        if (order[i] == effect) from = i;
    if (from < 0 || toPosition < 0 || toPosition > 5 || from == toPosition) return;
    if (from < toPosition)
        for (int i = from; i < toPosition; ++i)
            order[i] = order[i + 1];
    else
        for (int i = from; i > toPosition; --i)
            order[i] = order[i - 1];
    order[toPosition] = effect;
    for (int i = 0; i < 6; ++i) {
        setByGesture(323 + i, static_cast<float>(order[i]));
        synth_.engine.effectOrder[i] = order[i];
    }
}

void ADEditor::beginEdit(int slot) {
    if (slot >= 0 && slot < kNumParams) synth_.callHost(vst::audioMasterBeginEdit, slot);
}

// One step of a gesture: the plug-in takes the value as the editor's own (it is not told
// back), the host records it as automation and a learned controller is echoed.
void ADEditor::performEdit(int slot, float v) {
    if (slot < 0 || slot >= kNumSlots) return;
    values_[slot].store(v, std::memory_order_relaxed);
    synth_.editParameter(slot, v);
    if (window_) window_->invalidate();
}

void ADEditor::endEdit(int slot) {
    if (slot >= 0 && slot < kNumParams) synth_.callHost(vst::audioMasterEndEdit, slot);
}

void ADEditor::setByGesture(int slot, float v) {
    beginEdit(slot);
    performEdit(slot, v);
    endEdit(slot);
}

std::string ADEditor::displayText(int slot, float v) const {
    char text[64] = {};
    float slots[kStoredSlots];
    for (int i = 0; i < kStoredSlots; ++i)
        slots[i] = value(i);
    const DisplayContext context = displayContextOfSlots(slots);
    if (slot >= 160 && slot < 184) {
        // A matrix amount is signed: trunc((2v - 1) x 100) / 100.
        const double amount = std::trunc((2.0 * v - 1.0) * 100.0) / 100.0;
        std::snprintf(text, sizeof text, "%+.2f", amount);
    } else if (slot == 71) {
        if (context.arpSync)
            std::snprintf(text, sizeof text, "%s", arpSyncedRateName(v));
        else
            std::snprintf(text, sizeof text, "%.2f Hz", 0.1 * std::pow(1000.0, v) * 1.0);
    } else if (slot == 72) {
        std::snprintf(text, sizeof text, "%+d ticks", static_cast<int>(std::trunc(v * 62.0)) - 31);
    } else if (slot == 320) {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(std::trunc(v * 31.0)) + 1);
    } else if (slot == 321) {
        int n = static_cast<int>(v * 32.0f);
        n = n < 0 ? 0 : (n > 32 ? 32 : n);
        std::snprintf(text, sizeof text, "%d", n + 8);
    } else if (slot == 363) {
        std::snprintf(text, sizeof text, "%+.2f", 2.0 * (v - 0.5));
    } else {
        formatParameterDisplay(slot, v, context, text, sizeof text);
    }
    return text;
}

void ADEditor::selectProgram(int program) {
    synth_.selectProgramIndexed(program);
    reloadFromPatch();
    if (window_) window_->invalidate();
}

// Category 0 is "Category: None"; 1..13 are the named categories. The program menu's
// filter (view state 1) holds the list position 0..12, or 13 for no filter.
void ADEditor::setCategory(int category) {
    if (category < 0 || category > kCategoryCount) return;
    setByGesture(322, static_cast<float>(category));
    synth_.editorViewState[1] = category == 0 ? kCategoryCount : category - 1;
}

void ADEditor::loadInstrument(const std::string& path) {
    // The loader keeps paths with backslashes.
    std::string stored = path;
    for (char& ch : stored)
        if (ch == '/') ch = '\\';
    synth_.engine.loadFromPath(stored.c_str());
    reloadFromPatch();
    instrumentName_ = displayName(stored, true, 64);
    if (window_) window_->invalidate();
}

bool ADEditor::controlCenter(int slot, int* pageOut, int* x, int* y) const {
    for (const Control& k : controls_) {
        if (k.slot != slot) continue;
        double cx, cy, cw, ch;
        controlRect(k, &cx, &cy, &cw, &ch);
        const double z = zoomFactor();
        if (pageOut) *pageOut = k.page;
        if (x) *x = static_cast<int>((cx + cw / 2) * z);
        if (y) *y = static_cast<int>((cy + ch / 2) * z);
        return true;
    }
    return false;
}

EditorLink* makeEditor(VstSynth& synth) {
    return new ADEditor(synth);
}

}  // namespace corvane::editor

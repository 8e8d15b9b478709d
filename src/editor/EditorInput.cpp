// Pointer and keyboard input: knob drags, switches, the lanes, the effect panels and the
// on-screen keyboard.
#include <cmath>

#include "editor/Editor.h"
#include "editor/Layout.h"
#include "net/News.h"
#include "patch/BuiltinPatches.h"
#include "shell/VstSynth.h"

namespace corvane::editor {

namespace {
constexpr double kDragRange = 200.0;       // pixels for the whole range
constexpr double kFineDragRange = 2000.0;  // with Shift
constexpr uint32_t kDoubleClickMs = 400;

float clamp01(double v) {
    if (!(v >= 0.0)) return 0.0f;
    return v > 1.0 ? 1.0f : static_cast<float>(v);
}

bool isBlackKey(int key) {
    const int n = key % 12;
    return n == 1 || n == 3 || n == 6 || n == 8 || n == 10;
}

// The value a lane step takes from a height in its bar (0 at the bottom, 1 at the top).
float laneValue(int lane, double f) {
    if (lane == 1) return clamp01(f);
    int semitones = static_cast<int>(std::lround(clamp01(f) * 24.0));
    return static_cast<float>((semitones + 1 + 0.25) / 128.0);
}
}  // namespace

int ADEditor::keyAt(double x, double y, int* velocity) const {
    if (y < kKeyboardTop || y >= kKeyboardTop + kKeyboardHeight) return -1;
    if (x < kKeyboardLeft || x >= kKeyboardRight) return -1;
    const double whiteW = (kKeyboardRight - kKeyboardLeft) / 35.0;
    const double depth = (y - kKeyboardTop) / kKeyboardHeight;
    int key = -1;
    if (depth < 0.6) {  // black keys lie on top
        int white = 0;
        for (int k = kFirstKey; k <= kLastKey; ++k) {
            if (!isBlackKey(k)) {
                ++white;
                continue;
            }
            const double bx = kKeyboardLeft + white * whiteW - whiteW * 0.3;
            if (x >= bx && x < bx + whiteW * 0.6) key = k;
        }
    }
    if (key < 0) {
        const int whiteIndex = static_cast<int>((x - kKeyboardLeft) / whiteW);
        int white = 0;
        for (int k = kFirstKey; k <= kLastKey; ++k) {
            if (isBlackKey(k)) continue;
            if (white == whiteIndex) key = k;
            ++white;
        }
    }
    // Nearer the front of the key plays louder.
    const double limit = isBlackKey(key) ? 0.6 : 1.0;
    int v = 1 + static_cast<int>(std::lround(126.0 * std::min(depth / limit, 1.0)));
    if (velocity) *velocity = v < 1 ? 1 : (v > 127 ? 127 : v);
    return key;
}

void ADEditor::releaseClickedKey() {
    if (clickedKey_ < 0) return;
    synth_.queueGuiNote(0x80, clickedKey_, 64);
    clickedKey_ = -1;
    if (window_) window_->invalidate();
}

void ADEditor::mouseDown(const MouseEvent& ev) {
    const double z = zoomFactor();
    const double x = ev.x / z, y = ev.y / z;
    mouseX_ = x;
    mouseY_ = y;
    if (window_) window_->invalidate();
    if (editingName_) return;
    if (popup_) {
        const int item = popupItemAt(x, y);
        std::unique_ptr<Popup> p = std::move(popup_);
        if (item >= 0 && (p->enabled.empty() || p->enabled[item]) && p->chosen) p->chosen(item);
        return;
    }
    const bool doubleClick = ev.timeMs - lastClickTime_ < kDoubleClickMs;
    if (browser_) {
        browserClick(x, y, doubleClick && lastClickControl_ == -3);
        lastClickControl_ = -3;
        lastClickTime_ = ev.timeMs;
        return;
    }
    if (const int id = buttonAt(x, y)) {
        handleButton(id, ev);
        return;
    }
    int velocity = 0;
    const int key = keyAt(x, y, &velocity);
    if (key >= 0 && ev.button == 1) {
        releaseClickedKey();
        clickedKey_ = key;
        synth_.queueGuiNote(0x90, key, velocity);
        return;
    }
    if (page() == 4 && ev.button == 1 && y >= kEffectPanelTop && y < kEffectPanelTop + 24) {
        for (int e = 0; e < 6; ++e) {
            const double px = panelX(e);
            if (x >= px && x < px + kEffectPanelWidth) {
                dragEffect_ = e;
                dragEffectX_ = x;
                return;
            }
        }
    }
    const int i = controlAt(x, y);
    if (i < 0) {
        focused_ = -1;
        return;
    }
    const Control& k = controls_[i];
    focused_ = i;
    if (ev.button == 3) {
        if (k.kind == Kind::laneStep) {
            // Right button on a note step: a note, a rest, a tie, in turn.
            const float v = value(k.slot);
            const int code = static_cast<int>(std::trunc(static_cast<double>(v) * 128.0));
            float next = 1.25f / 128.0f;
            if (k.lane == 1)
                next = 0.0f;
            else if (code >= 1 && code < 128)
                next = 0.0f;
            else if (code <= 0)
                next = 1.0f;
            setByGesture(k.slot, next);
        } else if (k.slot >= 0 && k.slot < 255) {
            openLearnMenu(i);
        }
        return;
    }
    if (ev.button != 1) return;
    const bool again = doubleClick && lastClickControl_ == i;
    lastClickControl_ = i;
    lastClickTime_ = ev.timeMs;
    if (again && (k.kind == Kind::knob || k.kind == Kind::slider)) {
        // Double-click: back to the value a new patch has.
        const float init = k.slot < kStoredSlots ? initPatch().slots[k.slot] : 0.5f;
        setByGesture(k.slot, init);
        lastClickControl_ = -2;
        return;
    }
    switch (k.kind) {
        case Kind::toggle:
            setByGesture(k.slot, value(k.slot) > 0.001f ? 0.0f : 1.0f);
            break;
        case Kind::menu:
            openControlMenu(i);
            break;
        case Kind::knob:
        case Kind::slider:
            dragControl_ = i;
            dragStartX_ = x;
            dragStartY_ = y;
            dragStartValue_ = value(k.slot);
            dragFine_ = (ev.modifiers & kShift) != 0;
            beginEdit(k.slot);
            break;
        case Kind::laneStep: {
            laneDrag_ = k.lane;
            setLaneFromPointer(x, y);
            break;
        }
        case Kind::wheel:
            // The pitch wheel follows the pointer from where it was grabbed and springs back
            // to the centre when let go.
            bendDrag_ = i;
            dragStartY_ = y;
            break;
    }
}

void ADEditor::releaseBend() {
    if (bendDrag_ < 0) return;
    const int slot = controls_[bendDrag_].slot;
    bendDrag_ = -1;
    if (value(slot) != 0.5f) performEdit(slot, 0.5f);
}

void ADEditor::setLaneFromPointer(double x, double y) {
    for (const Control& k : controls_) {
        if (k.kind != Kind::laneStep || k.lane != laneDrag_) continue;
        if (x < k.x || x >= k.x + k.w + 2.5) continue;
        const double f =
            k.lane == 0 ? (k.y + k.h - 6 - y) / (k.h - 20) : (k.y + k.h - y) / (k.h - 4);
        const float v = laneValue(k.lane, f);
        if (v != value(k.slot)) setByGesture(k.slot, v);
    }
}

void ADEditor::mouseMove(const MouseEvent& ev) {
    const double z = zoomFactor();
    const double x = ev.x / z, y = ev.y / z;
    mouseX_ = x;
    mouseY_ = y;
    if (popup_) {
        const int item = popupItemAt(x, y);
        if (item != popup_->highlighted) {
            popup_->highlighted = item;
            if (window_) window_->invalidate();
        }
        return;
    }
    if (dragControl_ >= 0) {
        const Control& k = controls_[dragControl_];
        const bool fine = (ev.modifiers & kShift) != 0;
        if (fine != dragFine_) {  // Shift pressed or let go mid-drag: go on from here
            dragFine_ = fine;
            dragStartX_ = x;
            dragStartY_ = y;
            dragStartValue_ = value(k.slot);
        }
        const bool horizontal = k.kind == Kind::slider && k.w > k.h;
        const double delta = horizontal ? x - dragStartX_ : dragStartY_ - y;
        const float v = clamp01(dragStartValue_ + delta / (fine ? kFineDragRange : kDragRange));
        if (v != value(k.slot)) performEdit(k.slot, v);
        return;
    }
    if (bendDrag_ >= 0) {
        // Half the wheel's height up or down from the grab is the whole bend.
        const Control& k = controls_[bendDrag_];
        const float v = clamp01(0.5 + (dragStartY_ - y) / k.h);
        if (v != value(k.slot)) performEdit(k.slot, v);
        return;
    }
    if (laneDrag_ >= 0) {
        setLaneFromPointer(x, y);
        return;
    }
    if (dragEffect_ >= 0) {
        if (window_) window_->invalidate();
        return;
    }
    const int h = browser_ || editingName_ ? -1 : controlAt(x, y);
    if (h != hovered_ || h >= 0) {
        hovered_ = h;
        if (window_) window_->invalidate();
    }
}

void ADEditor::mouseUp(const MouseEvent& ev) {
    const double z = zoomFactor();
    const double x = ev.x / z;
    mouseX_ = x;
    mouseY_ = ev.y / z;
    if (dragControl_ >= 0) {
        endEdit(controls_[dragControl_].slot);
        dragControl_ = -1;
    }
    laneDrag_ = -1;
    releaseBend();
    if (dragEffect_ >= 0) {
        const int effect = dragEffect_;
        const double left = panelX(effect);
        dragEffect_ = -1;
        int to = static_cast<int>(std::lround((left - 10) / (kEffectPanelWidth + kEffectPanelGap)));
        to = to < 0 ? 0 : (to > 5 ? 5 : to);
        moveEffect(effect, to);
    }
    releaseClickedKey();
    if (window_) window_->invalidate();
}

void ADEditor::mouseLeft() {
    hovered_ = -1;
    if (window_) window_->invalidate();
}

void ADEditor::wheel(const MouseEvent& ev, double steps) {
    const double z = zoomFactor();
    const double x = ev.x / z, y = ev.y / z;
    if (popup_ || editingName_) return;
    if (browser_) {
        browser_->scroll -= static_cast<int>(steps * 3);
        if (browser_->scroll < 0) browser_->scroll = 0;
        if (window_) window_->invalidate();
        return;
    }
    const int i = controlAt(x, y);
    if (i >= 0) adjust(i, steps, ev.modifiers);
}

// One step up (steps > 0) or down of a control, by wheel or keyboard.
void ADEditor::adjust(int i, double steps, unsigned modifiers) {
    const Control& k = controls_[i];
    const float v = value(k.slot);
    switch (k.kind) {
        case Kind::knob:
        case Kind::slider:
        case Kind::laneStep: {
            const double step = (modifiers & kShift) ? 0.001 : 0.01;
            setByGesture(k.slot, clamp01(v + steps * step));
            break;
        }
        case Kind::toggle:
            setByGesture(k.slot, steps > 0 ? 1.0f : 0.0f);
            break;
        case Kind::menu: {
            const std::vector<ListEntry> entries = listEntriesOf(k.slot);
            int e = entryIndexOf(entries, v) + (steps > 0 ? 1 : -1);
            if (e >= 0 && e < static_cast<int>(entries.size()))
                setByGesture(k.slot, entries[e].value);
            break;
        }
        case Kind::wheel:
            break;
    }
}

void ADEditor::keyDown(Key key, const char* text, unsigned modifiers) {
    if (editingName_) {
        if (key == Key::enter) {
            synth_.setProgramName(nameEdit_.c_str());
            editingName_ = false;
        } else if (key == Key::escape) {
            editingName_ = false;
        } else if (key == Key::backspace && !nameEdit_.empty()) {
            nameEdit_.pop_back();
        } else if (key == Key::character && nameEdit_.size() < 31) {
            nameEdit_ += text;
        }
        if (window_) window_->invalidate();
        return;
    }
    if (browser_) {
        browserKey(key, text);
        return;
    }
    if (popup_) {
        const int n = static_cast<int>(popup_->items.size());
        if (key == Key::down) popup_->highlighted = (popup_->highlighted + 1) % n;
        if (key == Key::up) popup_->highlighted = (popup_->highlighted + n - 1) % n;
        if (key == Key::escape) popup_.reset();
        if (key == Key::enter && popup_->highlighted >= 0) {
            std::unique_ptr<Popup> p = std::move(popup_);
            const int item = p->highlighted;
            if ((p->enabled.empty() || p->enabled[item]) && p->chosen) p->chosen(item);
        }
        if (window_) window_->invalidate();
        return;
    }
    const int p = page();
    auto onPage = [&](int i) { return controls_[i].page == p || controls_[i].page == -1; };
    const int n = static_cast<int>(controls_.size());
    switch (key) {
        case Key::tab: {
            const int dir = (modifiers & kShift) ? -1 : 1;
            int i = focused_;
            for (int tries = 0; tries < n; ++tries) {
                i = (i + dir + n) % n;
                if (onPage(i) && controls_[i].kind != Kind::wheel) break;
            }
            focused_ = i;
            break;
        }
        case Key::left:
        case Key::right:
            if (modifiers & kControl || focused_ < 0)
                setPage(p + (key == Key::right ? 1 : -1));
            else
                adjust(focused_, key == Key::right ? 1 : -1, modifiers);
            break;
        case Key::up:
        case Key::down:
            if (focused_ >= 0) adjust(focused_, key == Key::up ? 1 : -1, modifiers);
            break;
        case Key::pageUp:
        case Key::pageDown:
            if (focused_ >= 0) adjust(focused_, key == Key::pageUp ? 10 : -10, 0);
            break;
        case Key::home:
        case Key::end:
            if (focused_ >= 0)
                setByGesture(controls_[focused_].slot, key == Key::end ? 1.0f : 0.0f);
            break;
        case Key::enter:
            if (focused_ >= 0) {
                const Control& k = controls_[focused_];
                if (k.kind == Kind::menu) openControlMenu(focused_);
                if (k.kind == Kind::toggle) adjust(focused_, value(k.slot) > 0.001f ? -1 : 1, 0);
            }
            break;
        case Key::escape:
            focused_ = -1;
            break;
        default:
            break;
    }
    if (window_) window_->invalidate();
}

void ADEditor::fileDropped(const char* path) {
    std::string p = path;
    std::string lower = p;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (lower.find(".fxp") != std::string::npos) {
        synth_.loadProgramFile(p.c_str());
        reloadFromPatch();
    } else if (lower.find(".fxb") != std::string::npos) {
        synth_.loadBankFile(p.c_str());
        reloadFromPatch();
    } else {
        loadInstrument(p);
    }
    if (window_) window_->invalidate();
}

void ADEditor::handleButton(int id, const MouseEvent&) {
    switch (id) {
        case kButtonProgram:
            openProgramMenu();
            break;
        case kButtonPrevious:
            selectProgram((synth_.engine.currentProgram + 127) & 127);
            break;
        case kButtonNext:
            selectProgram((synth_.engine.currentProgram + 1) & 127);
            break;
        case kButtonRename:
            editingName_ = true;
            nameEdit_ = synth_.engine.currentPatch().name;
            break;
        case kButtonCategory:
            openCategoryMenu();
            break;
        case kButtonFile:
            openFileMenu();
            break;
        case kButtonZoom:
            setZoom((synth_.editorViewState[2] + 1) % 3);
            break;
        case kButtonNews:
            // Opens the news link in the browser; without a link nothing happens.
            if (news_) news_->click();
            break;
        case kButtonInstrument:
        case kButtonLoadInstrument:
            openBrowser(BrowseFor::instrument);
            break;
        case kButtonPattern:
            openPatternMenu();
            break;
        default:
            if (id >= kButtonTab && id < kButtonTab + kPages) setPage(id - kButtonTab);
            break;
    }
    if (window_) window_->invalidate();
}

}  // namespace corvane::editor

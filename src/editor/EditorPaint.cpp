// Painting: every control is drawn here as vector graphics through the Canvas.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "editor/Editor.h"
#include "editor/Layout.h"
#include "net/News.h"
#include "patch/BuiltinPatches.h"
#include "patch/ParamInfo.h"
#include "shell/VstSynth.h"

namespace corvane::editor {

namespace {
const Color kBackground{0.13, 0.145, 0.16};
const Color kPanel{0.18, 0.195, 0.215};
const Color kPanelEdge{0.30, 0.32, 0.35};
const Color kText{0.88, 0.89, 0.90};
const Color kDim{0.58, 0.60, 0.63};
const Color kAccent{0.96, 0.62, 0.18};
const Color kTrack{0.32, 0.34, 0.37};
const Color kField{0.10, 0.11, 0.12};
const Color kLit{0.36, 0.62, 0.86};
const Color kFocus{0.45, 0.80, 0.95};
constexpr double kPi = 3.14159265358979323846;

bool isBlackKey(int key) {
    const int n = key % 12;
    return n == 1 || n == 3 || n == 6 || n == 8 || n == 10;
}

// The news shown on one line: control characters (the line feeds of a longer answer) become
// spaces. The text is valid UTF-8, so every byte below 0x20 is a control character.
std::string oneLine(std::string s) {
    for (char& ch : s)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
    return s;
}

void field(Canvas& c, double x, double y, double w, double h) {
    c.setColor(kField);
    c.fillRoundRect(x, y, w, h, 4);
    c.setColor(kPanelEdge);
    c.strokeRect(x, y, w, h, 1);
}

}  // namespace

void ADEditor::paint(Canvas& c) {
    c.scale(zoomFactor());
    c.setColor(kBackground);
    c.fillRect(0, 0, kWidth, kHeight);
    paintHeader(c);
    paintSections(c);
    const int p = page();
    if (p == 4) paintEffectPanels(c);
    if (p == 3) paintLanes(c);
    for (int i = 0; i < static_cast<int>(controls_.size()); ++i) {
        const Control& k = controls_[i];
        if (k.page != p && k.page != -1) continue;
        if (k.kind == Kind::laneStep) continue;
        paintControl(c, k, i == focused_);
    }
    if (p == 2) {
        c.setColor(kDim);
        for (int i = 0; i < 24; ++i) {
            char n[16];
            std::snprintf(n, sizeof n, "%d", i + 1);
            c.text(10 + (i / 12) * 475 + 22, 84 + (i % 12) * 36 + 20, n, 12, Align::right);
        }
    }
    paintKeyboard(c);
    if (browser_) paintBrowser(c);
    if (editingName_) paintTextEdit(c);
    if (popup_) paintPopup(c);
    if (!popup_ && !browser_ && dragControl_ < 0) paintTooltip(c);
}

void ADEditor::paintHeader(Canvas& c) {
    for (const Button& b : buttons_) {
        std::string label;
        bool highlighted = false;
        switch (b.id) {
            case kButtonProgram: {
                char t[64];
                std::snprintf(t, sizeof t, "%03d  %s", synth_.engine.currentProgram + 1,
                              synth_.engine.currentPatch().name);
                label = t;
                break;
            }
            case kButtonPrevious:
                label = "<";
                break;
            case kButtonNext:
                label = ">";
                break;
            case kButtonRename:
                label = "Rename";
                break;
            case kButtonCategory: {
                const float v = value(322);
                const int cat = v >= 1.0f && v <= kCategoryCount ? static_cast<int>(v + 0.1f) : 0;
                label = cat == 0 ? "Category: None" : kCategoryNames[cat - 1];
                break;
            }
            case kButtonFile:
                label = "File";
                break;
            case kButtonZoom: {
                const int z = static_cast<int>(zoomFactor() * 100 + 0.5);
                label = std::to_string(z) + " %";
                break;
            }
            case kButtonNews:
                label = oneLine(news_ ? news_->text() : std::string(net::kNoNews));
                break;
            case kButtonInstrument:
                label = instrumentName_;
                break;
            case kButtonLoadInstrument:
                label = "Load SFZ/REX...";
                break;
            case kButtonPattern:
                if (page() != 3) continue;
                label = "Pattern...";
                break;
            default:
                if (b.id >= kButtonTab && b.id < kButtonTab + kPages) {
                    static const char* const tabs[kPages] = {"Voice", "Modulation", "Matrix",
                                                             "Arpeggiator", "Effects"};
                    label = tabs[b.id - kButtonTab];
                    highlighted = b.id - kButtonTab == page();
                }
                break;
        }
        if (highlighted) {
            c.setColor(kAccent);
            c.fillRoundRect(b.x, b.y, b.w, b.h, 4);
            c.setColor(kBackground);
        } else {
            field(c, b.x, b.y, b.w, b.h);
            c.setColor(kText);
        }
        c.clip(b.x + 2, b.y, b.w - 4, b.h);
        // Centred labels too wide for their button start at its left edge instead, so that
        // their beginning stays readable.
        const bool left = b.id == kButtonProgram || b.id == kButtonInstrument ||
                          b.id == kButtonCategory || c.textWidth(label.c_str(), 13) > b.w - 12;
        if (left)
            c.text(b.x + 8, b.y + b.h / 2 + 5, label.c_str(), 13);
        else
            c.text(b.x + b.w / 2, b.y + b.h / 2 + 5, label.c_str(), 13, Align::center);
        c.resetClip();
    }
}

void ADEditor::paintSections(Canvas& c) {
    for (const Section& s : sections_) {
        if (s.page != page()) continue;
        c.setColor(kPanel);
        c.fillRoundRect(s.x, s.y, s.w, s.h, 6);
        c.setColor(kDim);
        c.text(s.x + 10, s.y + 16, s.title.c_str(), 12, Align::left, true);
    }
}

void ADEditor::paintControl(Canvas& c, const Control& k, bool focused) {
    double x, y, w, h;
    controlRect(k, &x, &y, &w, &h);
    const float v = value(k.slot);
    const bool learning = synth_.learnParam == k.slot;
    if (focused || learning) {
        c.setColor(learning ? kAccent : kFocus);
        c.strokeRect(x - 2, y - 2, w + 4, h + 4, 1.5);
    }
    switch (k.kind) {
        case Kind::knob: {
            const double cx = x + w / 2, cy = y + 24, r = 19;
            const double a0 = 0.75 * kPi, a1 = 2.25 * kPi;
            double f = v;
            if (!(f >= 0)) f = 0;
            if (f > 1) f = 1;
            c.setColor(kTrack);
            c.arc(cx, cy, r, a0, a1, 4);
            c.setColor(kAccent);
            if (f > 0.001) c.arc(cx, cy, r, a0, a0 + (a1 - a0) * f, 4);
            c.setColor(kField);
            c.fillCircle(cx, cy, r - 5);
            const double a = a0 + (a1 - a0) * f;
            c.setColor(kText);
            c.line(cx + std::cos(a) * 4, cy + std::sin(a) * 4, cx + std::cos(a) * (r - 6),
                   cy + std::sin(a) * (r - 6), 2);
            c.setColor(kDim);
            c.text(cx, y + 58, k.label.c_str(), 11, Align::center);
            c.setColor(kText);
            c.text(cx, y + 73, displayText(k.slot, v).c_str(), 11, Align::center);
            break;
        }
        case Kind::toggle: {
            const bool on = v > 0.001f;
            c.setColor(on ? kAccent : kTrack);
            c.fillRoundRect(x + w / 2 - 14, y + 2, 28, 14, 7);
            c.setColor(kText);
            c.fillCircle(on ? x + w / 2 + 7 : x + w / 2 - 7, y + 9, 5);
            c.setColor(kDim);
            c.text(x + w / 2, y + 33, k.label.c_str(), 11, Align::center);
            break;
        }
        case Kind::menu: {
            const std::vector<ListEntry> entries = listEntriesOf(k.slot);
            const int i = entryIndexOf(entries, v);
            const std::string text = i >= 0 ? entries[i].label : displayText(k.slot, v);
            double by = y, bh = h;
            if (!k.label.empty()) {
                c.setColor(kDim);
                c.text(x, y + 11, k.label.c_str(), 11);
                by = y + 16;
                bh = h - 16;
            }
            field(c, x, by, w, bh);
            c.setColor(kText);
            c.clip(x + 2, by, w - 18, bh);
            c.text(x + 6, by + bh / 2 + 5, text.c_str(), 12);
            c.resetClip();
            c.setColor(kDim);
            c.text(x + w - 12, by + bh / 2 + 5, "v", 11, Align::center);
            break;
        }
        case Kind::slider: {
            field(c, x, y, w, h);
            double f = v;
            if (!(f >= 0)) f = 0;
            if (f > 1) f = 1;
            c.setColor(kAccent);
            if (w > h) {  // a bipolar amount, from the centre
                const double mid = x + w / 2, to = x + 2 + (w - 4) * f;
                c.fillRect(std::min(mid, to), y + 4, std::fabs(to - mid), h - 8);
                c.setColor(kText);
                c.text(x + w / 2, y + h / 2 + 5, displayText(k.slot, v).c_str(), 12, Align::center);
            } else {  // a wheel, from the bottom
                c.fillRect(x + 3, y + h - 3 - (h - 6) * f, w - 6, (h - 6) * f);
            }
            break;
        }
        case Kind::wheel: {
            field(c, x, y, w, h);
            double f = v;
            if (!(f >= 0)) f = 0;
            if (f > 1) f = 1;
            c.setColor(kTrack);
            c.line(x + 3, y + h / 2, x + w - 3, y + h / 2, 1);
            c.setColor(kAccent);
            const double py = y + h - 3 - (h - 6) * f;
            c.fillRect(x + 3, py - 3, w - 6, 6);
            break;
        }
        case Kind::laneStep:
            break;
    }
}

void ADEditor::paintLanes(Canvas& c) {
    const bool playing = synth_.engine.anyKeyDown != 0 && value(115) > 0.001f;
    const int step = synth_.engine.arpCurrentStep;
    const int steps = static_cast<int>(std::trunc(value(320) * 31.0)) + 1;
    for (const Control& k : controls_) {
        if (k.kind != Kind::laneStep) continue;
        const int i = k.slot - (k.lane == 0 ? 256 : 288);
        const float v = value(k.slot);
        const bool active = i < steps;
        c.setColor(playing && i == step ? Color{0.30, 0.28, 0.22} : kField);
        c.fillRect(k.x, k.y, k.w, k.h);
        const Color bar = active ? kAccent : kTrack;
        if (k.lane == 0) {
            const int code = static_cast<int>(std::trunc(static_cast<double>(v) * 128.0));
            if (code >= 128) {  // tie: the previous note goes on
                c.setColor(kDim);
                c.line(k.x + 3, k.y + k.h / 2, k.x + k.w - 3, k.y + k.h / 2, 3);
                c.text(k.x + k.w / 2, k.y + k.h - 4, "T", 10, Align::center);
            } else if (code <= 0) {  // rest
                c.setColor(kDim);
                c.text(k.x + k.w / 2, k.y + k.h - 4, "R", 10, Align::center);
            } else {  // a note offset of code - 1 semitones, drawn over two octaves
                double f = (code - 1) / 24.0;
                if (f > 1) f = 1;
                c.setColor(bar);
                c.fillRect(k.x + 2, k.y + k.h - 6 - (k.h - 20) * f, k.w - 4, 6 + (k.h - 20) * f);
                char t[16];
                std::snprintf(t, sizeof t, "%d", code - 1);
                c.setColor(kText);
                c.text(k.x + k.w / 2, k.y + 12, t, 10, Align::center);
            }
        } else {
            double f = v;
            if (!(f >= 0)) f = 0;
            if (f > 1) f = 1;
            c.setColor(bar);
            c.fillRect(k.x + 2, k.y + k.h - (k.h - 4) * f, k.w - 4, (k.h - 4) * f);
        }
        if (k.lane == 0) {
            char n[16];
            std::snprintf(n, sizeof n, "%d", i + 1);
            c.setColor(kDim);
            c.text(k.x + k.w / 2, k.y - 4, n, 9, Align::center);
        }
    }
}

void ADEditor::paintEffectPanels(Canvas& c) {
    static const char* const names[6] = {"Distortion",    "EQ-1",  "EQ-2",
                                         "Phaser/Chorus", "Delay", "Reverb"};
    for (int pass = 0; pass < 2; ++pass)  // the dragged panel on top
        for (int e = 0; e < 6; ++e) {
            if ((e == dragEffect_) != (pass == 1)) continue;
            const double x = panelX(e);
            c.setColor(kPanel);
            c.fillRoundRect(x, kEffectPanelTop, kEffectPanelWidth, 430, 6);
            c.setColor(e == dragEffect_ ? kAccent : kTrack);
            c.fillRoundRect(x, kEffectPanelTop, kEffectPanelWidth, 24, 6);
            c.setColor(e == dragEffect_ ? kBackground : kText);
            c.text(x + kEffectPanelWidth / 2, kEffectPanelTop + 17, names[e], 12, Align::center,
                   true);
            if (pass == 1)
                for (const Control& k : controls_)
                    if (k.panel == e) paintControl(c, k, false);
        }
}

void ADEditor::paintKeyboard(Canvas& c) {
    const double whiteW = (kKeyboardRight - kKeyboardLeft) / 35.0;
    int white = 0;
    for (int key = kFirstKey; key <= kLastKey; ++key) {
        if (isBlackKey(key)) continue;
        const double x = kKeyboardLeft + white * whiteW;
        const bool held = noteShown_[key].load(std::memory_order_relaxed) || key == clickedKey_;
        c.setColor(
            held ? kAccent
                 : (keyMap_[key - kFirstKey] ? Color{0.80, 0.88, 0.97} : Color{0.93, 0.93, 0.92}));
        c.fillRect(x + 0.5, kKeyboardTop, whiteW - 1, kKeyboardHeight);
        if (key % 12 == 0) {
            char t[16];
            std::snprintf(t, sizeof t, "C%d", key / 12 - 2);
            c.setColor(kDim);
            c.text(x + whiteW / 2, kKeyboardTop + kKeyboardHeight - 5, t, 9, Align::center);
        }
        ++white;
    }
    white = 0;
    for (int key = kFirstKey; key <= kLastKey; ++key) {
        if (!isBlackKey(key)) {
            ++white;
            continue;
        }
        const double x = kKeyboardLeft + white * whiteW - whiteW * 0.3;
        const bool held = noteShown_[key].load(std::memory_order_relaxed) || key == clickedKey_;
        c.setColor(held ? kAccent : (keyMap_[key - kFirstKey] ? kLit : Color{0.08, 0.08, 0.09}));
        c.fillRect(x, kKeyboardTop, whiteW * 0.6, kKeyboardHeight * 0.6);
    }
}

void ADEditor::paintPopup(Canvas& c) {
    const Popup& p = *popup_;
    const int n = static_cast<int>(p.items.size());
    const int columns = (n + p.rows - 1) / p.rows;
    const double w = columns * p.itemW, h = std::min(n, p.rows) * p.itemH;
    c.setColor({0, 0, 0, 0.35});
    c.fillRect(p.x + 3, p.y + 3, w, h);
    c.setColor({0.22, 0.235, 0.255});
    c.fillRect(p.x, p.y, w, h);
    c.setColor(kPanelEdge);
    c.strokeRect(p.x, p.y, w, h, 1);
    for (int i = 0; i < n; ++i) {
        const double ix = p.x + (i / p.rows) * p.itemW, iy = p.y + (i % p.rows) * p.itemH;
        const bool enabled = p.enabled.empty() || p.enabled[i];
        if (i == p.highlighted && enabled) {
            c.setColor(kAccent);
            c.fillRect(ix + 1, iy, p.itemW - 2, p.itemH);
            c.setColor(kBackground);
        } else {
            c.setColor(enabled ? kText : kDim);
        }
        c.clip(ix, iy, p.itemW - 4, p.itemH);
        c.text(ix + 6, iy + p.itemH - 5, p.items[i].c_str(), 12);
        c.resetClip();
    }
}

void ADEditor::paintTooltip(Canvas& c) {
    if (hovered_ < 0 || hovered_ >= static_cast<int>(controls_.size())) return;
    const Control& k = controls_[hovered_];
    std::string text = paramInfo(k.slot).name;
    text += ": " + displayText(k.slot, value(k.slot));
    const double w = c.textWidth(text.c_str(), 11) + 12;
    double x = mouseX_ + 14, y = mouseY_ + 18;
    if (x + w > kWidth) x = kWidth - w - 2;
    if (y + 20 > kHeight) y = mouseY_ - 26;
    c.setColor({0.98, 0.96, 0.84});
    c.fillRect(x, y, w, 20);
    c.setColor({0.1, 0.1, 0.1});
    c.text(x + 6, y + 14, text.c_str(), 11);
}

void ADEditor::paintTextEdit(Canvas& c) {
    c.setColor({0, 0, 0, 0.5});
    c.fillRect(0, 0, kWidth, kHeight);
    c.setColor(kPanel);
    c.fillRoundRect(280, 240, 400, 110, 8);
    c.setColor(kText);
    c.text(296, 266, "Program name (Enter to keep, Escape to cancel)", 12);
    field(c, 296, 280, 368, 30);
    c.setColor(kText);
    c.text(304, 300, (nameEdit_ + "|").c_str(), 13);
}

}  // namespace corvane::editor

// Where every control sits: the header, the five pages, the effect panels and the keyboard.
#include "editor/Editor.h"
#include "editor/Layout.h"
#include "shell/VstSynth.h"

namespace corvane::editor {

namespace {
constexpr double kKnobW = 64, kKnobH = 78;
constexpr double kToggleW = 64, kToggleH = 40;
constexpr double kMenuW = 136, kMenuH = 44;
constexpr double kPanelW = 152, kPanelGap = 4, kPanelTop = 80;
}  // namespace

void ADEditor::add(Kind kind, int slot, double x, double y, const char* label, int pageIndex,
                   int panel) {
    Control c;
    c.kind = kind;
    c.slot = slot;
    c.x = x;
    c.y = y;
    c.label = label;
    c.page = pageIndex;
    c.panel = panel;
    switch (kind) {
        case Kind::knob:
            c.w = kKnobW;
            c.h = kKnobH;
            break;
        case Kind::toggle:
            c.w = kToggleW;
            c.h = kToggleH;
            break;
        case Kind::menu:
            c.w = kMenuW;
            c.h = kMenuH;
            break;
        default:
            break;
    }
    controls_.push_back(c);
}

void ADEditor::buildLayout() {
    auto button = [&](int id, double x, double y, double w, double h) {
        buttons_.push_back({id, x, y, w, h});
    };
    button(kButtonProgram, 10, 6, 250, 28);
    button(kButtonPrevious, 264, 6, 26, 28);
    button(kButtonNext, 292, 6, 26, 28);
    button(kButtonRename, 322, 6, 70, 28);
    button(kButtonCategory, 396, 6, 210, 28);
    button(kButtonFile, 610, 6, 84, 28);
    button(kButtonZoom, 698, 6, 72, 28);
    button(kButtonNews, 774, 6, 176, 28);
    button(kButtonInstrument, 10, 40, 330, 28);
    button(kButtonLoadInstrument, 344, 40, 136, 28);
    for (int i = 0; i < kPages; ++i)
        button(kButtonTab + i, 490 + i * 92, 40, 88, 28);
    button(kButtonPattern, 250, 110, 150, 30);

    auto section = [&](int pageIndex, double x, double y, double w, double h, const char* t) {
        sections_.push_back({pageIndex, x, y, w, h, t});
    };

    // Page 0: voice, amplitude and filter.
    section(0, 10, 80, 290, 110, "Amp Envelope");
    const char* adsr[4] = {"Attack", "Decay", "Sustain", "Release"};
    for (int i = 0; i < 4; ++i)
        add(Kind::knob, 18 + i, 20 + i * 70, 104, adsr[i], 0);
    section(0, 10, 200, 290, 110, "Filter Envelope");
    for (int i = 0; i < 4; ++i)
        add(Kind::knob, 22 + i, 20 + i * 70, 224, adsr[i], 0);
    section(0, 310, 80, 400, 110, "Filter");
    add(Kind::menu, 126, 320, 110, "Type", 0);
    add(Kind::knob, 28, 450, 104, "Cutoff", 0);
    add(Kind::knob, 29, 514, 104, "Reso", 0);
    add(Kind::knob, 30, 578, 104, "Env Amt", 0);
    add(Kind::knob, 26, 642, 104, "Keytrack", 0);
    section(0, 720, 80, 230, 230, "Master");
    add(Kind::knob, 74, 730, 104, "Volume", 0);
    add(Kind::knob, 78, 800, 104, "Glide", 0);
    add(Kind::knob, 321, 870, 104, "Voices", 0);
    add(Kind::toggle, 127, 730, 200, "Mono", 0);
    add(Kind::toggle, 32, 800, 200, "DC Block", 0);

    // Page 1: modulation envelope and LFOs.
    section(1, 10, 80, 290, 110, "Mod Envelope");
    for (int i = 0; i < 4; ++i)
        add(Kind::knob, 57 + i, 20 + i * 70, 104, adsr[i], 1);
    const char* lfoNames[3] = {"LFO 1", "LFO 2", "LFO 3"};
    for (int k = 0; k < 3; ++k) {
        const double x = 10 + k * 315;
        const int base = 33 + 9 * k;
        section(1, x, 200, 305, 170, lfoNames[k]);
        add(Kind::menu, base, x + 10, 224, "Shape", 1);
        add(Kind::toggle, base + 4, x + 156, 226, "Sync", 1);
        add(Kind::toggle, base + 5, x + 226, 226, "Reset", 1);
        add(Kind::knob, base + 1, x + 10, 282, "Rate", 1);
        add(Kind::knob, base + 2, x + 80, 282, "Skew", 1);
        add(Kind::knob, base + 3, x + 150, 282, "Fade In", 1);
    }

    // Page 2: the modulation matrix, two columns of twelve rows.
    for (int i = 0; i < 24; ++i) {
        const double x = 10 + (i / 12) * 475, y = 84 + (i % 12) * 36;
        Control src;
        src.kind = Kind::menu;
        src.slot = 128 + i;
        src.x = x + 30;
        src.y = y;
        src.w = 130;
        src.h = 30;
        src.page = 2;
        controls_.push_back(src);
        Control amt = src;
        amt.kind = Kind::slider;
        amt.slot = 160 + i;
        amt.x = x + 166;
        amt.w = 140;
        controls_.push_back(amt);
        Control dst = src;
        dst.slot = 192 + i;
        dst.x = x + 312;
        dst.w = 150;
        controls_.push_back(dst);
    }

    // Page 3: the arpeggiator and its two lanes.
    section(3, 10, 80, 940, 104, "Arpeggiator");
    add(Kind::toggle, 115, 20, 106, "On", 3);
    add(Kind::menu, 125, 96, 104, "Mode", 3);
    add(Kind::toggle, 114, 410, 106, "Sync", 3);
    add(Kind::knob, 71, 480, 100, "Rate", 3);
    add(Kind::knob, 72, 550, 100, "Length", 3);
    add(Kind::knob, 73, 620, 100, "Swing", 3);
    add(Kind::knob, 70, 690, 100, "Range", 3);
    add(Kind::knob, 320, 760, 100, "Steps", 3);
    section(3, 10, 192, 940, 170, "Note lane");
    section(3, 10, 368, 940, 152, "Second lane");
    for (int lane = 0; lane < 2; ++lane)
        for (int i = 0; i < 32; ++i) {
            Control c;
            c.kind = Kind::laneStep;
            c.slot = (lane == 0 ? 256 : 288) + i;
            c.lane = lane;
            c.x = 60 + i * 27.5;
            c.y = lane == 0 ? 216 : 392;
            c.w = 25;
            c.h = lane == 0 ? 140 : 122;
            c.page = 3;
            controls_.push_back(c);
        }

    // Page 4: six effect panels; their controls sit relative to the panel.
    struct PanelControls {
        int on, type;
        int knobs[5];
        const char* names[5];
    };
    const PanelControls panels[6] = {
        {119, 97, {98, 99, 100, -1, -1}, {"Colour", "Drive", "Amount", "", ""}},
        {120, 101, {102, 103, 104, -1, -1}, {"Freq", "Q", "Gain", "", ""}},
        {121, 106, {107, 108, 109, -1, -1}, {"Freq", "Q", "Gain", "", ""}},
        {116, 79, {80, 81, 82, 83, 84}, {"Rate", "Freq", "Feedback", "Amount", "Depth"}},
        {117, 85, {86, 87, 88, 89, 90}, {"Colour", "Feedback", "Amount", "Time L", "Time R"}},
        {118, 91, {92, 93, 94, 95, 96}, {"Damping", "Decay", "Amount", "Predelay", "Low Cut"}},
    };
    for (int e = 0; e < 6; ++e) {
        const PanelControls& p = panels[e];
        add(Kind::toggle, p.on, 8, 32, "On", 4, e);
        add(Kind::menu, p.type, 8, 78, "Type", 4, e);
        for (int k = 0; k < 5; ++k)
            if (p.knobs[k] >= 0)
                add(Kind::knob, p.knobs[k], 8 + (k % 2) * 72, 130 + (k / 2) * 86, p.names[k], 4, e);
    }

    // Every page: the wheels beside the keyboard.
    Control bend;
    bend.kind = Kind::wheel;
    bend.slot = 363;
    bend.x = 10;
    bend.y = kKeyboardTop;
    bend.w = 24;
    bend.h = kKeyboardHeight;
    bend.page = -1;
    bend.label = "Bend";
    controls_.push_back(bend);
    Control mod = bend;
    mod.kind = Kind::slider;
    mod.slot = 113;
    mod.x = 40;
    mod.label = "Mod";
    controls_.push_back(mod);
}

double ADEditor::panelX(int effect) const {
    int position = effect;
    for (int i = 0; i < 6; ++i)
        if (synth_.engine.effectOrder[i] == effect) position = i;
    double x = 10 + position * (kPanelW + kPanelGap);
    if (effect == dragEffect_) x += mouseX_ - dragEffectX_;
    return x;
}

void ADEditor::controlRect(const Control& c, double* x, double* y, double* w, double* h) const {
    *x = c.x;
    *y = c.y;
    if (c.panel >= 0) {
        *x += panelX(c.panel);
        *y += kPanelTop;
    }
    *w = c.w;
    *h = c.h;
}

int ADEditor::controlAt(double x, double y) const {
    const int p = page();
    for (int i = 0; i < static_cast<int>(controls_.size()); ++i) {
        const Control& c = controls_[i];
        if (c.page != p && c.page != -1) continue;
        double cx, cy, cw, ch;
        controlRect(c, &cx, &cy, &cw, &ch);
        if (x >= cx && x < cx + cw && y >= cy && y < cy + ch) return i;
    }
    return -1;
}

int ADEditor::buttonAt(double x, double y) const {
    for (const Button& b : buttons_) {
        if (b.id == kButtonPattern && page() != 3) continue;
        if (x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h) return b.id;
    }
    return 0;
}

}  // namespace corvane::editor

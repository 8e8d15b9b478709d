#include "editor/Lists.h"

#include <cmath>

#include "patch/ParamInfo.h"

namespace corvane::editor {

namespace {

// A list whose slot the display rules read as int(value x scale): each entry's value is
// placed a little above its lower edge so that float rounding cannot move it down, the
// last one at 1.0 when it sits there.
std::vector<ListEntry> scaledList(int slot, int count, double scale) {
    std::vector<ListEntry> out;
    DisplayContext context;
    for (int i = 0; i < count; ++i) {
        double v = (i + 0.02) / scale;
        if (v > 1.0 || i + 1.0 > scale) v = 1.0;
        char text[64];
        formatParameterDisplay(slot, static_cast<float>(v), context, text, sizeof text);
        out.push_back({text, static_cast<float>(v)});
    }
    return out;
}

std::vector<ListEntry> coded(std::initializer_list<std::pair<const char*, int>> items) {
    std::vector<ListEntry> out;
    for (const auto& [label, code] : items)
        out.push_back({label, static_cast<float>(code)});
    return out;
}

}  // namespace

std::vector<ListEntry> listEntriesOf(int slot) {
    switch (slot) {
        case 33:
        case 42:
        case 51:
            return scaledList(slot, 4, 3.0);  // Saw, Pulse, Sine, S+H
        case 79:
            return scaledList(slot, 7, 6.1);
        case 85:
            return scaledList(slot, 8, 8.0);  // the ninth position repeats "Diffuse"
        case 91:
            return scaledList(slot, 5, 4.0);
        case 97:
            return scaledList(slot, 9, 8.0);
        case 101:
        case 106:
            return scaledList(slot, 3, 2.01);
        case 125:
            return arpModes();
        case 126:
            // The filter type is kept as its number: 0 off, 1 low-pass, 2 band-pass,
            // 3 band-stop, 4 high-pass.
            return coded({{"Filter Off", 0},
                          {"Low-pass", 1},
                          {"Band-pass", 2},
                          {"Band-stop", 3},
                          {"High-pass", 4}});
        default:
            break;
    }
    if (slot >= 128 && slot < 152) return matrixSources();
    if (slot >= 192 && slot < 216) return matrixDestinations();
    return {};
}

int entryIndexOf(const std::vector<ListEntry>& entries, float value) {
    if (entries.empty() || std::isnan(value)) return -1;
    int best = 0;
    for (int i = 1; i < static_cast<int>(entries.size()); ++i)
        if (std::fabs(entries[i].value - value) < std::fabs(entries[best].value - value)) best = i;
    return best;
}

const std::vector<ListEntry>& matrixSources() {
    static const std::vector<ListEntry> list = coded({
        {"---", 0},      {"Velocity", 1}, {"Note #", 2},      {"MWheel", 3},   {"PWheel", 4},
        {"ATouch", 5},   {"Const", 7},    {"Random", 6},      {"Arp Note", 8}, {"Arp Vel", 9},
        {"Foot", 11},    {"Expr", 12},    {"LFO 1", 13},      {"LFO 2", 14},   {"LFO 3", 15},
        {"LFO1*MW", 16}, {"LFO2*MW", 17}, {"LFO3*MW", 18},    {"LFO1*AT", 19}, {"LFO2*AT", 20},
        {"LFO3*AT", 21}, {"Mod Env", 25}, {"Filter Env", 23}, {"Amp Env", 22},
    });
    return list;
}

const std::vector<ListEntry>& matrixDestinations() {
    static const std::vector<ListEntry> list = coded({
        {"---", 0},
        {"Mod Attack", 57},
        {"Mod Decay", 58},
        {"Mod Sustain", 59},
        {"Mod Relase", 60},
        {"Filter Cutoff", 5},
        {"Filter Reso", 26},
        {"Filter Env", 6},
        {"Filter KeyTrk", 92},
        {"Filter Attack", 21},
        {"Filter Decay", 22},
        {"Filter Sustain", 23},
        {"Filter Release", 24},
        {"Amp Attack", 17},
        {"Amp Hold", 31},
        {"Amp Decay", 18},
        {"Amp Sustain", 19},
        {"Amp Release", 20},
        {"MWheel Curve", 94},
        {"Velocity Curve", 95},
        {"LFO 1 Rate", 34},
        {"LFO 2 Rate", 35},
        {"LFO 3 Rate", 36},
        {"LFO 1 Phase", 43},
        {"LFO 2 Phase", 44},
        {"LFO 3 Phase", 45},
        {"Pitch Semi", 1},
        {"Pitch Fine", 2},
        {"FX Dry/Wet", 86},
        {"Pan", 4},
        {"Level (dB)", 88},
        {"Volume", 3},
    });
    return list;
}

const std::vector<ListEntry>& arpModes() {
    static const std::vector<ListEntry> list = coded({{"Mode: Chord", 3},
                                                      {"Mode: Duophonic", 6},
                                                      {"Mode: Dynamic", 5},
                                                      {"Mode: Modulation", 4},
                                                      {"Mode: Simple", 0},
                                                      {"Mode: One Shot", 2}});
    return list;
}

const char* arpSyncedRateName(float value) {
    static const char* const names[21] = {"1/2*",   "1/2",   "1/2T",  "1/4*",  "1/4",  "1/4T",
                                          "1/8*",   "1/8",   "1/8T",  "1/16*", "1/16", "1/16T",
                                          "1/32*",  "1/32",  "1/32T", "1/64*", "1/64", "1/64T",
                                          "1/128*", "1/128", "1/128T"};
    double x = static_cast<double>(value) * 20.01;
    if (!(x >= 0.0)) x = 0.0;
    if (x > 20.0) x = 20.0;
    return names[static_cast<int>(x)];
}

}  // namespace corvane::editor

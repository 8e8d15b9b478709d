#include "patch/ParamInfo.h"
#include "dsp/SafeMath.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "patch/DistortionColour.h"
#include "patch/ParamRanges.h"

namespace corvane {
namespace {

struct HostParam {
    const char* name;
    int32_t steps;
};

const HostParam kHostParams[kNumParams] = {
    {"Osc 1 Shape", 3},       {"Osc 1 Coarse", 128},   {"Osc 1 Fine", 128},
    {"Osc 1 Fat", 128},       {"Osc 1 Wave", 128},     {"Osc 2 Shape", 3},
    {"Osc 2 Coarse", 128},    {"Osc 2 Fine", 128},     {"Osc 2 Fat", 128},
    {"Osc 2 Wave", 128},      {"Osc 3 Shape", 2},      {"Osc 3 Level", 128},
    {"Osc Mix", 128},         {"Noise Colour", 128},   {"Noise Level", 128},
    {"Osc Common RM", 128},   {"Osc Common PW", 128},  {"Osc FM", 128},
    {"Amp Attack", 128},      {"Amp Decay", 128},      {"Amp Sustain", 128},
    {"Amp Release", 128},     {"Filter Attack", 128},  {"Filter Decay", 128},
    {"Filter Sustain", 128},  {"Filter Release", 128}, {"Filter Keytrack", 128},
    {"Filter Reserved", 1},   {"Filter Cutoff", 128},  {"Filter Resonance", 128},
    {"Filter Env Amt", 128},  {"Filter Offset", 128},  {"Osc Sync", 1},
    {"LFO 1 Shape", 3},       {"LFO 1 Rate", 128},     {"LFO 1 Skew", 128},
    {"LFO 1 Fade In", 128},   {"LFO 1 Sync", 1},       {"LFO 1 Reset", 1},
    {"Reserved", 128},        {"Reserved", 128},       {"Reserved", 128},
    {"LFO 2 Shape", 3},       {"LFO 2 Rate", 128},     {"LFO 2 Skew", 128},
    {"LFO 2 Fade In", 128},   {"LFO 2 Sync", 1},       {"LFO 2 Reset", 1},
    {"Reserved", 128},        {"Reserved", 128},       {"Reserved", 128},
    {"LFO 3 Shape", 3},       {"LFO 3 Rate", 128},     {"LFO 3 Skew", 128},
    {"LFO 3 Fade In", 128},   {"LFO 3 Sync", 1},       {"LFO 3 Reset", 1},
    {"Mod Attack", 128},      {"Mod Decay", 128},      {"Mod Sustain", 128},
    {"Mod Release", 128},     {"FM Feedback", 128},    {"Voice 1", 128},
    {"Voice 2", 128},         {"Voice 3", 1},          {"Voice 4", 1},
    {"Voice 5", 1},           {"Voice 6", 1},          {"Voice 7", 1},
    {"Voice 8", 1},           {"Arp Range", 128},      {"Arp Rate", 128},
    {"Arp Length", 128},      {"Arp Swing", 128},      {"Volume", 128},
    {"Voice Spread", 128},    {"Voice Detune", 128},   {"Voices", 128},
    {"Glide", 128},           {"FX Phaser Type", 128}, {"FX Phaser Rate", 128},
    {"FX Phaser Freq", 128},  {"FX Phaser Fbk", 128},  {"FX Phaser Amt", 128},
    {"FX Phaser Depth", 128}, {"FX Delay Type", 1},    {"FX Delay Colour", 1},
    {"FX Delay Feedbk", 1},   {"FX Delay Amt", 1},     {"FX Delay Rate-L", 1},
    {"FX Delay Rate-R", 1},   {"FX Reverb Type", 1},   {"FX Reverb Damp", 1},
    {"FX Reverb Decay", 1},   {"FX Reverb Amt", 1},    {"FX Reverb Predly", 1},
    {"FX Reverb Locut", 128}, {"FX Dist Type", 1},     {"FX Dist Colour", 1},
    {"FX Dist Drive", 1},     {"FX Dist Amt", 1},      {"FX EQ-1 Type", 1},
    {"FX EQ-1 Freq", 1},      {"FX EQ-1 Q", 1},        {"FX EQ-1 Gain", 1},
    {"Reserved", 1},          {"FX EQ-2 Type", 1},     {"FX EQ-2 Freq", 1},
    {"FX EQ-2 Q", 1},         {"FX EQ-2 Gain", 1},     {"Reserved", 1},
};

// Slots 111..127, each with its step count: switches and raw codes count 1 position,
// the modulation wheel is continuous.
const HostParam kSwitchesAndModes[] = {
    {"FM Mode", 1},    {"FX", 1},           {"mWheel", 128},    {"Arp Sync", 1},
    {"Arp On", 1},     {"FX Phaser On", 1}, {"FX Delay On", 1}, {"FX Reverb On", 1},
    {"FX Dist On", 1}, {"FX EQ-1 On", 1},   {"FX EQ-2 On", 1},  {"MatrixBG21", 1},
    {"PatchBG1", 1},   {"MatrixBG2", 1},    {"Arp Mode", 1},    {"Filter Type", 1},
    {"Mono Mode", 1},
};

const char* const kEditorSlots[] = {
    "GraphEnv A Length",
    "GraphEnv A Spin UpDown",
    "GraphEnv B Length",
    "GraphEnv B Spin UpDown",
    "Osc 1 Wave",
    "Osc 2 Wave",
    "Preset",
    "PresetLeft",
    "AMP ADSR",
    "FLT ADSR",
    "PresetUpDown",
    "PresetUpDown",
    "Switch Panes",
    "Switch Panes",
    "FX",
    "BendUp",
    "BendDn",
    "FiltUpDown",
    "FX Select",
    "FX Select",
    "Bottom View 1 selection",
    "Bottom View 2 selection",
    "Bottom View 3 selection",
    "Bottom View 4 selection",
    "Graph envelope A",
    "Graph envelope B",
    "FX Select",
};
static_assert(sizeof kEditorSlots / sizeof kEditorSlots[0] == kNumSlots - kStoredSlots);

void setEntry(ParamInfo& p, const char* name, int32_t steps) {
    std::snprintf(p.name, sizeof p.name, "%s", name);
    p.steps = steps;
}

// Numbered families: "ModSrc1".."ModSrc16" twice, "Arp1".."Arp32" and so on.
void setFamily(ParamInfo* table, int first, int count, int numberedUpTo, const char* stem,
               int32_t steps) {
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%d", stem, i % numberedUpTo + 1);
        setEntry(table[first + i], name, steps);
    }
}

struct Table {
    ParamInfo entries[kNumSlots];
    Table() {
        for (int i = 0; i < kNumParams; ++i)
            setEntry(entries[i], kHostParams[i].name, kHostParams[i].steps);
        for (int i = 0; i < 17; ++i)
            setEntry(entries[111 + i], kSwitchesAndModes[i].name, kSwitchesAndModes[i].steps);
        setFamily(entries, 128, 32, 16, "ModSrc", 1);
        setFamily(entries, 160, 32, 16, "ModAmt", 128);
        setFamily(entries, 192, 32, 16, "ModDst", 1);
        setFamily(entries, 224, 32, 16, "ModVoc", 1);
        setFamily(entries, 256, 32, 32, "Arp", 128);
        setFamily(entries, 288, 32, 32, "ArpFinger", 128);
        setEntry(entries[320], "Arp Steps", 128);
        setEntry(entries[321], "Poly", 128);
        setEntry(entries[322], "PatchCategory", 1);
        for (int i = 0; i < 6; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Effect order - slot %d", i + 1);
            setEntry(entries[323 + i], name, 1);
        }
        const char* const graph[] = {"Level", "Rate", "Sync", "Loop"};
        for (int i = 0; i < 8; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "GraphEnv %c %s", i < 4 ? 'A' : 'B', graph[i % 4]);
            setEntry(entries[329 + i], name, i % 4 < 2 ? 128 : 1);
        }
        for (int i = 0; i < kNumSlots - kStoredSlots; ++i)
            setEntry(entries[kStoredSlots + i], kEditorSlots[i], 128);
    }
};

const Table& table() {
    static const Table kTable;
    return kTable;
}

// Truncation toward zero that stays defined for NaN and huge values: the result is held
// to +-1e9, so that the offsets the display rules subtract cannot overflow.
int truncInt(double x) {
    constexpr double kLimit = 1e9;
    if (!(x == x)) return 0;
    if (x >= kLimit) return static_cast<int>(kLimit);
    if (x <= -kLimit) return -static_cast<int>(kLimit);
    return static_cast<int>(x);
}

// List index: the formula's entry, held to the list so that no value reads past it.
int pick(double x, int count) {
    const int n = truncInt(x);
    return n < 0 ? 0 : (n >= count ? count - 1 : n);
}

// "+%d" for positive values, "%d" otherwise, with an optional unit.
void signedInt(char* text, size_t size, int x, const char* unit) {
    std::snprintf(text, size, x > 0 ? "+%d%s" : "%d%s", x, unit);
}

// Synced arpeggiator step lengths, from a dotted half note down to a 1/128 triplet.
const char kArpNoteValues[21][8] = {
    "1/2*",  "1/2",   "1/2T", "1/4*",  "1/4",   "1/4T", "1/8*",  "1/8",    "1/8T",  "1/16*", "1/16",
    "1/16T", "1/32*", "1/32", "1/32T", "1/64*", "1/64", "1/64T", "1/128*", "1/128", "1/128T"};

}  // namespace

const char kNoteValuesA[kNoteValueCountA][16] = {
    "8/1*", "8/1", "8/1T", "4/1*",  "4/1",  "4/1T",  "2/1*",  "2/1",  "2/1T",
    "1/1*", "1/1", "1/1T", "1/2*",  "1/2",  "1/2T",  "1/4*",  "1/4",  "1/4T",
    "1/8*", "1/8", "1/8T", "1/16*", "1/16", "1/16T", "1/32*", "1/32", "1/32T"};

const char kNoteValuesB[kNoteValueCountB][16] = {
    "1/1*", "1/1",   "1/1T", "1/2*",  "1/2",   "1/2T", "1/4*",  "1/4",   "1/4T", "1/8*", "1/8",
    "1/8T", "1/16*", "1/16", "1/16T", "1/32*", "1/32", "1/32T", "1/64*", "1/64", "1/64T"};

const ParamInfo& paramInfo(int slot) {
    static const ParamInfo kNone{};
    return slot >= 0 && slot < kNumSlots ? table().entries[slot] : kNone;
}

DisplayContext displayContextOf(const PatchRecord& patch) {
    return displayContextOfSlots(patch.slots);
}

DisplayContext displayContextOfSlots(const float* slots) {
    DisplayContext c;
    const int syncSlots[3] = {37, 46, 55};
    for (int i = 0; i < 3; ++i)
        c.lfoSync[i] = slots[syncSlots[i]] > 0.00001f;
    c.distortionType = pick(slots[97] * 8.0, 9);
    c.arpSync = slots[114] > 0.001f;
    return c;
}

void formatParameterDisplay(int slot, float value, const DisplayContext& context, char* text,
                            size_t size) {
    if (!text || size == 0) return;
    const double v = value;
    const int steps = paramInfo(slot).steps;
    switch (slot) {
        case 0:
        case 5: {
            static const char* const kShapes[] = {"Saw", "Pulse", "Sine", "Wavetbl"};
            std::snprintf(text, size, "%s", kShapes[pick(v * steps, 4)]);
            return;
        }
        case 1:
        case 6: {
            const int x = truncInt(v * 72.0) - 36;
            if (x > 0)
                std::snprintf(text, size, "+%d", x);
            else
                std::snprintf(text, size, "%d", truncInt(v * 72.0 + 0.0001) - 36);
            return;
        }
        case 2:
        case 7:
            std::snprintf(text, size, "%.1f ct", v * 200.0 - 100.0);
            return;
        case 10: {
            static const char* const kShapes[] = {"Saw", "Pulse", "Triangle"};
            std::snprintf(text, size, "%s", kShapes[pick(v * steps, 3)]);
            return;
        }
        case 31:
            signedInt(text, size, truncInt(v * 200.0) - 100, " %");
            return;
        case 33:
        case 42:
        case 51: {
            static const char* const kShapes[] = {"Saw", "Pulse", "Sine", "S+H"};
            std::snprintf(text, size, "%s", kShapes[pick(v * steps, 4)]);
            return;
        }
        case 34:
        case 43:
        case 52:
            if (context.lfoSync[(slot - 34) / 9])
                std::snprintf(text, size, "%s", kNoteValuesA[pick(v * 26.001, kNoteValueCountA)]);
            else
                std::snprintf(text, size, "%.1f Hz", mapped(kLfoFreeRateHz, v));
            return;
        case 36:
        case 45:
        case 54:
            if (v < 0.00001)
                std::snprintf(text, size, "Off");
            else
                std::snprintf(text, size, "%.2f s",
                              mapped(kLfoFadeInSeconds, v) - kLfoFadeInOffset);
            return;
        case 71:  // the arpeggiator's step length: a note value when synced, else steps/s
            if (context.arpSync)
                std::snprintf(text, size, "%s", kArpNoteValues[pick(v * 20.01, 21)]);
            else
                std::snprintf(text, size, "%.2f Hz", mapped(kArpFreeStepsPerSecond, v));
            return;
        case 72:  // note length offset, in 1/32 of a step
            signedInt(text, size, truncInt(v * 62.0) - 31, "/32");
            return;
        case 73:
            signedInt(text, size, truncInt(v * 150.0) - 75, " %");
            return;
        case 79: {
            static const char* const kTypes[] = {"4-Stage-Ph", "6-Stage-Ph", "8-Stage-Ph",
                                                 "Flanger+",   "Flanger-",   "Chorus I",
                                                 "Chorus II"};
            std::snprintf(text, size, "%s", kTypes[pick(v * 6.1, 7)]);
            return;
        }
        case 80:
            std::snprintf(text, size, "%.2f Hz", mapped(kPhaserRateHz, v));
            return;
        case 85: {
            static const char* const kTypes[] = {"Simple",    "Ping-Pong", "PP 75%",
                                                 "PP 50%",    "PP 25%",    "PP 10%",
                                                 "Multi-Tap", "Diffuse",   "Diffuse"};
            std::snprintf(text, size, "%s", kTypes[pick(v * 8.0, 9)]);
            return;
        }
        case 86:
            signedInt(text, size, truncInt(v * 128.0) - 64, "");
            return;
        case 89:
        case 90:
            std::snprintf(text, size, "%s", kNoteValuesB[pick(v * 20.001, kNoteValueCountB)]);
            return;
        case 91: {
            static const char* const kTypes[] = {"Diffuse-1", "Diffuse-2", "Room", "Hall",
                                                 "Cathedral"};
            std::snprintf(text, size, "%s", kTypes[pick(v * 4.0, 5)]);
            return;
        }
        case 93:
            std::snprintf(text, size, "%.1f s", mapped(kReverbDecaySeconds, v));
            return;
        case 95:
            std::snprintf(text, size, "%d ms", reverbPredelayMs(v));
            return;
        case 96:
            std::snprintf(text, size, "%.0f Hz", mapped(kReverbLowCutHz, v));
            return;
        case 97: {
            static const char* const kTypes[] = {"LP+Crunch", "HP+Crunch", "LP+Toxic",
                                                 "HP+Toxic",  "LP+Valve",  "HP+Valve",
                                                 "LP Only",   "HP Only",   "LP+Clip"};
            std::snprintf(text, size, "%s", kTypes[pick(v * 8.0, 9)]);
            return;
        }
        case 98: {
            // The corner the type's colour filter runs at (the effect computes it the same
            // way, from the same table).
            const double f = distortionColourHz(context.distortionType, static_cast<float>(v));
            std::snprintf(text, size, "%d Hz", truncInt(f + 0.001));
            return;
        }
        case 101:
        case 106: {
            static const char* const kTypes[] = {"Peaking", "Lo Shelf", "Hi Shelf"};
            std::snprintf(text, size, "%s", kTypes[pick(v * 2.01, 3)]);
            return;
        }
        case 102:
        case 107:
            std::snprintf(text, size, "%d Hz", truncInt(mapped(kEqFrequencyHz, v)));
            return;
        case 103:
        case 108:
            std::snprintf(text, size, "%.1f", static_cast<float>(mapped(kEqQ, v)));
            return;
        case 104:
        case 109: {
            const double g = v * 2.0 * kEqGainRangeDb - kEqGainRangeDb;
            std::snprintf(text, size, v < 0.5 ? "%.1f dB" : "+%.1f dB", g);
            return;
        }
        default:
            // everything else, "Voices" (77) included, as a percentage
            std::snprintf(text, size, "%.0f %%", v * 100.0);
            return;
    }
}

}  // namespace corvane

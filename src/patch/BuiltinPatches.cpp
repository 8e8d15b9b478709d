#include "patch/BuiltinPatches.h"

#include <cstring>

namespace corvane {
namespace {

PatchRecord makeInitPatch() {
    PatchRecord p;
    std::memset(&p, 0, sizeof p);
    std::strcpy(p.name, "Init Patch");
    struct SlotValue {
        int slot;
        float value;
    };
    static const SlotValue kValues[] = {
        {1, 0.5f},        {2, 0.5f},        {6, 0.5f},        {7, 0.5f},        {16, 0.5f},
        {19, 0.505f},     {20, 1.0f},       {23, 0.495f},     {24, 1.0f},       {28, 1.0f},
        {31, 0.5f},       {33, 0.6666667f}, {34, 0.5f},       {35, 0.5f},       {42, 0.6666667f},
        {43, 0.5f},       {44, 0.5f},       {51, 0.6666667f}, {52, 0.5f},       {53, 0.5f},
        {58, 0.5f},       {71, 0.65f},      {72, 0.5f},       {73, 0.5f},       {74, 0.365001f},
        {81, 0.505f},     {83, 1.0f},       {86, 0.505f},     {88, 0.5f},       {89, 0.5f},
        {90, 0.515f},     {92, 0.51f},      {93, 0.58f},      {94, 0.505f},     {98, 1.0f},
        {99, 0.5f},       {100, 1.0f},      {102, 0.5f},      {103, 0.5f},      {104, 0.5f},
        {105, 0.5f},      {107, 0.5f},      {108, 0.5f},      {109, 0.5f},      {110, 0.5f},
        {114, 1.0f},      {128, 1.000001f}, {160, 1.000001f}, {192, 3.000001f}, {256, 0.007815f},
        {258, 0.007815f}, {260, 0.007815f}, {262, 0.01f},     {288, 0.5f},      {320, 0.230003f},
        {321, 0.140001f},
    };
    for (const SlotValue& sv : kValues)
        p.slots[sv.slot] = sv.value;
    for (int s = 161; s <= 191; ++s)
        p.slots[s] = 0.5f;
    return p;
}

// --- arpeggiator presets ---------------------------------------------------------------
//
// Lane values as the arpeggiator reads them: a note-lane value gives the code
// trunc(v * 128), 0 a rest, 1..127 an offset of code - 1 semitones, 1.0 a tie. The second
// lane picks a chord member in 16ths of its code (Dynamic), the second voice's offset
// (Duophonic) or the "Arp Vel" value (the other modes).
constexpr float kRest = 0.0f;
constexpr float kTie = 1.0f;
constexpr float note(int semitones) {
    return (semitones + 1) / 128.0f + 0.00001f;
}
constexpr float chordMember(int e) {
    return (16 * e + 0.5f) / 128.0f;
}
constexpr float secondVoice(int semitones) {
    return (semitones + 1.5f) / 128.0f;
}
// "Arp Steps" for n steps, "Arp Rate" for a synced length, "Arp Length" for a tick offset.
constexpr float stepCount(int n) {
    return (n - 1 + 0.5f) / 31.0f;
}
constexpr float syncedLength(int index) {  // 10 = 1/16, 11 = 1/16T, 13 = 1/32
    return (index + 0.5f) / 20.01f;
}
constexpr float lengthTicks(int ticks) {
    return (ticks + 31 + 0.5f) / 62.0f;
}

struct ArpPresetData {
    const char* name;
    int mode;
    float steps, rate, length, swing;
    int laneLength;  // the lanes below repeat every laneLength steps over all 32
    float notes[16];
    float second[16];
};

const ArpPresetData kArpPresets[kArpPresetCount] = {
    {"User Pattern", 5, stepCount(16), syncedLength(10), 0.5f, 0.5f, 1, {note(0)}, {kRest}},
    {"Bass Roller 1",
     5,
     0.230003f,
     0.655f,
     0.88f,
     0.5f,
     8,
     {0.007812f, 0, 0.007813f, 0, 0.1078f, 0, 0.105f, 0},
     {0.04f, 0, 0, 0, 0.125f, 0, 0.19f, 0.115f}},
    {"Bass Roller 2",
     5,
     stepCount(16),
     0.655f,
     lengthTicks(15),
     0.5f,
     16,
     {note(0), note(0), note(12), note(0), note(0), kRest, note(12), note(7), note(0), note(0),
      note(12), note(0), note(10), kRest, note(12), note(7)},
     {kRest}},
    {"Duo 1",
     6,
     stepCount(8),
     syncedLength(10),
     0.5f,
     0.5f,
     8,
     {note(0), note(0), note(0), note(0), note(0), note(0), note(0), note(0)},
     {secondVoice(12), kRest, secondVoice(7), kRest, secondVoice(12), kRest, secondVoice(10),
      kRest}},
    {"Duo 2",
     6,
     stepCount(16),
     syncedLength(10),
     0.5f,
     0.5f,
     4,
     {note(0), kTie, note(0), kTie},
     {secondVoice(7), secondVoice(12), secondVoice(15), secondVoice(12)}},
    {"Duo 3",
     6,
     stepCount(8),
     syncedLength(10),
     lengthTicks(-8),
     0.5f,
     8,
     {note(0), kRest, note(0), kRest, note(12), kRest, note(0), kRest},
     {kRest, secondVoice(7), kRest, secondVoice(12), kRest, secondVoice(7), kRest,
      secondVoice(10)}},
    {"Duo 4",
     6,
     stepCount(16),
     syncedLength(10),
     0.5f,
     0.6f,
     8,
     {note(0), note(0), note(12), note(0), note(0), note(12), note(0), note(12)},
     {secondVoice(19), kTie, kTie, secondVoice(15), kTie, kTie, secondVoice(17), kTie}},
    {"Duo 5",
     6,
     stepCount(12),
     syncedLength(11),
     0.5f,
     0.5f,
     6,
     {note(0), note(7), note(12), note(0), note(7), note(12)},
     {secondVoice(24), kTie, kTie, secondVoice(19), kTie, kTie}},
    {"Harp-ish",
     2,
     stepCount(16),
     syncedLength(13),
     lengthTicks(8),
     0.5f,
     16,
     {note(0), note(4), note(7), note(12), note(16), note(19), note(24), note(28), note(31),
      note(36), note(40), note(43), note(48), note(52), note(55), note(60)},
     {kRest}},
    {"Riff 1",
     5,
     stepCount(16),
     syncedLength(10),
     0.5f,
     0.5f,
     16,
     {note(0), note(0), note(12), note(0), note(10), note(0), note(7), note(0), note(0), note(0),
      note(12), note(0), note(15), note(12), note(10), note(7)},
     {kRest}},
    {"Riff 2",
     5,
     stepCount(16),
     syncedLength(10),
     lengthTicks(-6),
     0.5f,
     16,
     {note(0), kRest, note(3), note(5), kRest, note(7), kRest, note(5), note(3), kRest, note(0),
      kRest, note(10), note(7), note(5), note(3)},
     {kRest}},
    {"Riff 3",
     5,
     stepCount(16),
     syncedLength(10),
     0.5f,
     0.55f,
     16,
     {note(0), note(7), note(12), note(7), note(0), note(7), note(12), note(7), note(0), note(7),
      note(12), note(7), note(0), note(7), note(12), note(10)},
     {kRest, kRest, kRest, chordMember(1), kRest, kRest, kRest, chordMember(2), kRest, kRest, kRest,
      chordMember(1), kRest, kRest, chordMember(2), kRest}},
    {"Stabs 1",
     6,
     stepCount(8),
     syncedLength(10),
     lengthTicks(-7),
     0.5f,
     8,
     {note(12), kRest, kRest, note(12), kRest, kRest, note(12), kRest},
     {secondVoice(19), kRest, kRest, secondVoice(19), kRest, kRest, secondVoice(19), kRest}},
    {"Stabs 2",
     6,
     0.515f,
     0.51f,
     0.425f,
     0.5f,
     8,
     {0.105f, 0.105f, 0.105f, 0.105f, 0.105f, 0.105f, 0.105f, 0.105f},
     {0.13f, 0, 0.13f, 0, 0.13f, 0, 0.12f, 0}},
    {"Stabs 3",
     6,
     stepCount(16),
     syncedLength(10),
     lengthTicks(-9),
     0.5f,
     8,
     {note(0), kRest, note(0), note(0), kRest, note(0), kRest, note(0)},
     {secondVoice(15), kRest, secondVoice(15), secondVoice(15), kRest, secondVoice(14), kRest,
      secondVoice(15)}},
    {"Octaver 1", 5, stepCount(8), syncedLength(10), 0.5f, 0.5f, 2, {note(0), note(12)}, {kRest}},
    {"Octaver 2",
     5,
     stepCount(16),
     syncedLength(13),
     0.5f,
     0.5f,
     4,
     {note(0), note(12), note(24), note(12)},
     {kRest}},
    {"Octaver 3",
     5,
     stepCount(16),
     syncedLength(10),
     0.5f,
     0.6f,
     8,
     {note(0), note(0), note(12), note(0), note(24), note(0), note(12), note(0)},
     {kRest}},
    {"Skippy",
     5,
     stepCount(16),
     syncedLength(10),
     lengthTicks(-4),
     0.66f,
     16,
     {note(0), kRest, note(0), note(12), kRest, note(0), kRest, note(7), note(0), kRest, note(12),
      note(0), kRest, note(10), note(0), kRest},
     {kRest}},
    {"Vel Echo",
     0,
     stepCount(16),
     syncedLength(10),
     0.5f,
     0.5f,
     4,
     {note(0), note(0), note(0), note(0)},
     {1.0f, 0.6f, 0.36f, 0.2f}},
    {"Vel Rise",
     0,
     stepCount(16),
     syncedLength(10),
     0.5f,
     0.5f,
     16,
     {note(0), note(0), note(0), note(0), note(0), note(0), note(0), note(0), note(0), note(0),
      note(0), note(0), note(0), note(0), note(0), note(0)},
     {0.0625f, 0.125f, 0.1875f, 0.25f, 0.3125f, 0.375f, 0.4375f, 0.5f, 0.5625f, 0.625f, 0.6875f,
      0.75f, 0.8125f, 0.875f, 0.9375f, 1.0f}},
};

struct ArpPresetStore {
    PatchRecord records[kArpPresetCount];
    ArpPresetStore() {
        for (int k = 0; k < kArpPresetCount; ++k) {
            const ArpPresetData& d = kArpPresets[k];
            PatchRecord& r = records[k];
            std::memset(&r, 0, sizeof r);
            std::strncpy(r.name, d.name, sizeof r.name - 1);
            r.slots[125] = static_cast<float>(d.mode);
            for (int step = 0; step < 32; ++step) {
                r.slots[256 + step] = d.notes[step % d.laneLength];
                r.slots[288 + step] = d.second[step % d.laneLength];
            }
            r.slots[320] = d.steps;
            r.slots[114] = 1.0f;
            r.slots[71] = d.rate;
            r.slots[72] = d.length;
            r.slots[73] = d.swing;
        }
    }
};

}  // namespace

const char kCategoryNames[kCategoryCount][36] = {
    "Category: Arpeggiated", "Category: Bass",          "Category: Chords", "Category: Drums",
    "Category: Keys",        "Category: Leads",         "Category: Mallet", "Category: Pads",
    "Category: Plucked",     "Category: Sound Effects", "Category: Synth",  "Category: Textures",
    "Category: Wind"};

const PatchRecord& arpPreset(int k) {
    static const ArpPresetStore kStore;
    return kStore.records[k >= 0 && k < kArpPresetCount ? k : 0];
}

const PatchRecord& initPatch() {
    static const PatchRecord kInit = makeInitPatch();
    return kInit;
}

void fillPatchStore(PatchRecord* store, int count) {
    for (int i = 0; i < count; ++i) {
        PatchRecord& r = store[i];
        std::memcpy(&r, &initPatch(), sizeof r);
        for (int k = 0; k < 6; ++k)
            r.slots[323 + k] = static_cast<float>(k);
        std::memset(r.reservedArea, 0, sizeof r.reservedArea);
        r.sampleFile[0] = 0;
    }
}

}  // namespace corvane

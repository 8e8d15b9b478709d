#pragma once
// The modulation matrix: 24 slots, each a source code, a destination code and a signed amount.
// The voice pass runs once per sub-block and voice and fills a VoiceModulation record (whose
// defaults are the values without any routing); the global pass runs once per block for the
// controller curves, the global LFO 2 and the delay's modulation depth. Sources and destinations
// are stored as internal codes; the editor's menus list them in their own order and translate
// through the menu tables.
#include <cstdint>

#include "engine/Voice.h"

namespace corvane {

constexpr int kModSlots = 24;
constexpr int kModSourceMenuSize = 24;
constexpr int kModDestinationMenuSize = 32;

// Slot numbers of the matrix in the parameter table.
constexpr int kModSourceSlot = 128;       // 128..151
constexpr int kModAmountSlot = 160;       // 160..183
constexpr int kModDestinationSlot = 192;  // 192..215

// Internal source codes.
enum ModSource : uint8_t {
    kSrcOff = 0,
    kSrcVelocity = 1,
    kSrcNote = 2,
    kSrcModWheel = 3,
    kSrcPitchWheel = 4,
    kSrcAftertouch = 5,
    kSrcRandom = 6,
    kSrcConst = 7,
    kSrcArpNote = 8,
    kSrcArpVelocity = 9,
    kSrcBreath = 10,
    kSrcFoot = 11,
    kSrcExpression = 12,
    kSrcLfo1 = 13,       // 13..15
    kSrcLfo1Wheel = 16,  // 16..18: LFO times the mod wheel
    kSrcLfo1Touch = 19,  // 19..21: LFO times channel pressure
    kSrcAmpEnv = 22,
    kSrcFilterEnv = 23,
    kSrcModEnv = 25,
};

// Internal destination codes.
enum ModDestination : uint8_t {
    kDstNone = 0,
    kDstPitchSemi = 1,
    kDstPitchFine = 2,
    kDstVolume = 3,
    kDstPan = 4,
    kDstFilterCutoff = 5,
    kDstFilterEnv = 6,
    kDstAmpAttack = 17,     // 17..20: attack, decay, sustain, release
    kDstFilterAttack = 21,  // 21..24
    kDstFilterReso = 26,    // offered by the menu, moves nothing
    kDstAmpHold = 31,
    kDstLfo1Rate = 34,    // 34..36
    kDstLfo1Phase = 43,   // 43..45
    kDstDelayDepth = 46,  // global pass only
    kDstModAttack = 57,   // 57..60
    kDstFxSend = 86,
    kDstLevelDb = 88,
    kDstFilterKeyTrack = 92,
    kDstWheelCurve = 94,
    kDstVelocityCurve = 95,
    kDstBreathCurve = 96,  // global pass only; no menu entry
};

// Editor menus: position -> code, and the labels in menu order.
extern const uint8_t kModSourceMenu[kModSourceMenuSize];
extern const uint8_t kModDestinationMenu[kModDestinationMenuSize];
extern const char* const kModSourceLabels[kModSourceMenuSize];
extern const char* const kModDestinationLabels[kModDestinationMenuSize];
// Sources whose 0..1 range "Pan" re-centres.
bool modSourceIsUnipolar(int code);

// A two-line controller curve through (0, 0), (X, 1 - X) and (1, 1).
struct ModCurve {
    float knee = 0.5f;
    float s1 = 1.0f;
    float s2 = 1.0f;
    bool inUse = false;

    void setKnee(double x);
    float apply(float x) const { return x <= knee ? x * s1 : x * s2 + 1.0f - s2; }
};

// Controller and engine values shared by every voice.
struct ModGlobals {
    double modWheel = 0.0;  // smoothed, 0..1
    double bend = 0.0;      // -1..+1
    double pressure = 0.0;
    double breath = 0.0;
    double foot = 0.0;
    double expression = 0.0;
    float arpVelocity = 0.5f;  // the arpeggiator's current velocity value
    double sampleRate = 44100.0;
};

// What a voice offers as sources.
struct ModVoiceSources {
    int velocity = 0;
    float pitch = 0.0f;  // note x 128
    float randomValue = 0.0f;
    float lfo[3] = {0.0f, 0.0f, 0.0f};  // LFO value x fade-in factor
    float ampEnv = 0.0f;
    float filterEnv = 0.0f;
    float modEnv = 0.0f;
    float arpNote = 0.5f;  // at the sub-block's frame offset; 0.5 with the arpeggiator off
    float arpVelocity = 0.5f;
    uint32_t age = 0;
};

// Result of the global pass.
struct GlobalModulation {
    float lfo2Rate = 0.0f;  // added to the LFO 2 rate slot value
    bool lfo2RateSet = false;
    uint32_t lfo2Phase = 0;
    bool lfo2PhaseSet = false;  // only when a note started since the previous pass
    float delayDepth = 0.0f;    // sum of source x amount^4 over the delay-depth slots
};

class ModMatrix {
  public:
    ModMatrix() { clear(); }

    // control: a program change empties every slot and forgets the curves
    void clear();
    // any thread: one plain store per value. Returns false for slots outside the matrix.
    bool setParameter(int index, float value);
    void setSource(int slot, float raw);       // raw code, int(v + 0.1)
    void setAmount(int slot, float v);         // -1.00..+1.00 in steps of 0.01
    void setDestination(int slot, float raw);  // raw code, int(v + 0.1)

    // Slots evaluated: one past the highest slot whose amount was set since the last clear.
    int count() const { return count_; }
    uint8_t source(int slot) const { return source_[slot]; }
    uint8_t destination(int slot) const { return destination_[slot]; }
    double amount(int slot) const { return amount_[slot]; }
    // True when some evaluated slot has a source.
    bool routed() const { return routed_; }
    // The LFOs (bit k for LFO k + 1) that some slot of the voice pass reads.
    uint8_t lfosRead() const { return lfosRead_; }

    // audio: once per sub-block and voice; `out` comes in holding the defaults (a fresh
    // VoiceModulation), which the routings add to.
    void voicePass(const ModVoiceSources& v, const ModGlobals& g, VoiceModulation& out) const;
    // audio: once per block. `voice0` holds voice slot 0's values (LFOs read without
    // interpolation); `noteStarted` allows the LFO 2 phase to be set.
    void globalPass(const ModVoiceSources& voice0, const ModGlobals& g, bool noteStarted,
                    GlobalModulation& out);

    ModCurve wheelCurve, velocityCurve, breathCurve;

  private:
    float voiceSource(int code, const ModVoiceSources& v, const ModGlobals& g) const;

    uint8_t source_[kModSlots];
    uint8_t destination_[kModSlots];
    double amount_[kModSlots];
    int32_t steps_[kModSlots];  // amount in hundredths, exact
    int count_ = 0;

    // What the voice pass walks, rebuilt by every change of a slot (the changes arrive on the
    // audio thread between blocks, or while it is stopped): the evaluated slots with a source
    // and a destination, highest first, and what the slots read.
    void rebuildActive();
    uint8_t active_[kModSlots] = {};
    int activeCount_ = 0;
    bool routed_ = false;
    bool usesModEnv_ = false;
    uint8_t lfosRead_ = 0;
};

}  // namespace corvane

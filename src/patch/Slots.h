#pragma once
// Slot space: every adjustable value has a slot 0..363.
namespace corvane {

constexpr int kNumSlots = 364;     // all slots
constexpr int kStoredSlots = 337;  // 0..336 are stored in a patch
constexpr int kNumParams = 111;    // 0..110 are the host's parameters
constexpr int kNumPrograms = 128;
constexpr int kPitchBendSlot = 363;

}  // namespace corvane

#pragma once
#include "patch/PatchRecord.h"

namespace corvane {

// The patch every record of a new instance's store starts from ("Init Patch").
const PatchRecord& initPatch();

// Fills a 128-record store: each record the init patch with the default effect order
// 0..5 in slots 323..328, the reserved area zeroed and no instrument file.
void fillPatchStore(PatchRecord* store, int count);

// The arpeggiator pattern presets of the pattern menu, "User Pattern" first. Of each record
// only the name and the arpeggiator slots (71..73, 114, 125, 256..320) carry meaning.
constexpr int kArpPresetCount = 21;
const PatchRecord& arpPreset(int k);  // k in 0..20; other values answer "User Pattern"

// Patch categories, kept as a whole number in slot 322 (the editor puts "Category: None"
// before them).
constexpr int kCategoryCount = 13;
extern const char kCategoryNames[kCategoryCount][36];

}  // namespace corvane

#pragma once
// The entries of the editor's list-valued controls: what each menu shows and the slot value
// each entry stands for, in the order the menu lists them.
#include <string>
#include <vector>

namespace corvane::editor {

struct ListEntry {
    std::string label;
    float value = 0.0f;
};

// The entries of a list-valued slot (empty for a slot that is not one).
std::vector<ListEntry> listEntriesOf(int slot);

// The entry of `entries` the value stands for: the entry whose value is nearest; -1 when
// the list is empty or the value is NaN.
int entryIndexOf(const std::vector<ListEntry>& entries, float value);

// Matrix source and destination menus: labels with the engine's internal codes.
const std::vector<ListEntry>& matrixSources();
const std::vector<ListEntry>& matrixDestinations();
// Arpeggiator modes, listed Chord, Duophonic, Dynamic, Modulation, Simple, One Shot.
const std::vector<ListEntry>& arpModes();

// Synced arpeggiator step lengths, indexed by trunc(value x 20.01).
const char* arpSyncedRateName(float value);

}  // namespace corvane::editor

#pragma once
// Sliced loop files (.rx2, .rex, .rcy), decoded by the REX Shared Library that is loaded
// for each import (platform/RexLibrary.h). Slice i plays on key 36 + i; key 35 plays the
// whole loop slice after slice at the host tempo.
#include <cstdint>
#include <cstdio>
#include <string>

#include "content/SampleMap.h"

namespace corvane {

// Bounds on what the library reports: a slice longer than this many frames is left without
// a sample, and a loop never has more slices than this or than its file has bytes.
constexpr int32_t kRexMaxSliceFrames = 1 << 24;
constexpr int32_t kRexMaxSlices = 65536;

// The user-facing text for a REX result code (the undefined-error text for unknown codes).
const char* rexErrorText(int code);
// The message shown for a code: its text, or for a code no version of the library defines
// (below 1, 211 to 665, above 666) a text that names the code.
std::string rexErrorMessage(int code);

// Imports the open file into the (empty) map and closes the file. Library errors are shown
// as "REX Error" messages. Loader thread only.
void importRex(std::FILE* file, SampleMap& map);

}  // namespace corvane

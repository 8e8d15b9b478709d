#pragma once
// Sliced loop files (.rx2, .rex, .rcy). They are decoded by the REX Shared Library, which
// does not exist on this platform: the import reports the library as missing.
#include <cstdio>

#include "content/SampleMap.h"

namespace corvane {

// Result codes of the REX Shared Library.
constexpr int kRexOk = 1;
constexpr int kRexDllNotFound = 103;

// The user-facing text for a REX result code.
const char* rexErrorText(int code);

// Imports the open file into the (empty) map and closes the file. Loader thread only.
void importRex(std::FILE* file, SampleMap& map);

}  // namespace corvane

#pragma once
// SFZ instruments: one zone per "<region>" tag, each region's text searched for a fixed
// list of opcode names. Loader thread only, on a map the loader has emptied.
#include <cstddef>
#include <cstdio>
#include <string>

#include "content/SampleMap.h"

namespace corvane {

// Only the first this many bytes of an SFZ file are read.
constexpr size_t kMaxSfzBytes = 1000000;

// Opens and decodes the sample at `storedPath` (backslash form) into the zone. Returns
// false when the file does not open.
using SampleOpener = bool (*)(void* context, const std::string& storedPath, SampleZone& zone);

// Opens the file through the platform layer and decodes it with readWav.
bool openSampleFile(void* context, const std::string& storedPath, SampleZone& zone);

// Reads the open file (at most kMaxSfzBytes), fills the map and closes the file. Relative
// sample names resolve against map.sampleDirectory.
void readSfz(std::FILE* file, SampleMap& map);

// The same from text in memory; `opener` decodes the samples the regions name.
void readSfzText(const char* text, size_t length, SampleMap& map,
                 SampleOpener opener = openSampleFile, void* openerContext = nullptr);

}  // namespace corvane

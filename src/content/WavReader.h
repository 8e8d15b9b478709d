#pragma once
// RIFF/WAVE decoding into one zone: 16- and 24-bit integer and 32-bit float samples, any
// channel count, the "smpl" loop. Loader thread only.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "content/SampleZone.h"

namespace corvane {

// Files larger than this are refused without reading them: every offset and count then
// fits the zone's 32-bit fields.
constexpr size_t kMaxWavFileBytes = 0x7fffffffu - 8000u;

// Decodes the open file into the zone's data, sampleRate, channels, frameCount,
// bitsPerSample and loop, then closes the file. A file that cannot be decoded leaves the
// zone without a sample; the zone's other fields stay as they were.
void readWav(std::FILE* file, SampleZone& zone);

// The same decoding from a file image held in memory.
void readWavMemory(const uint8_t* bytes, size_t size, SampleZone& zone);

}  // namespace corvane

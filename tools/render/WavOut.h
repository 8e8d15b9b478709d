#pragma once
// The render tool's output file: a stereo WAV written frame block by frame block.
#include <cstdint>
#include <memory>
#include <string>

namespace corvane::render {

enum class SampleFormat { Float32, Pcm24, Pcm16 };

class WavOut {
  public:
    virtual ~WavOut() = default;
    // Appends interleaved stereo frames; false when the disk refuses them.
    virtual bool write(const float* interleaved, int64_t frames) = 0;
    // Finishes the header and closes the file; false on failure.
    virtual bool close() = 0;
};

// Opens `path` for a stereo WAV at `rate`; null with *error set on failure. PCM formats clip
// samples outside -1..1. No chunk carries a time stamp: the same render gives the same bytes.
std::unique_ptr<WavOut> openWavOut(const std::string& path, int rate, SampleFormat format,
                                   std::string* error);

}  // namespace corvane::render

#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane {

// One playable zone: a decoded sample and the key/velocity ranges, root key, tuning,
// level, pan and loop under which it plays.
struct SampleZone {
    double loopStart = 0.0;  // frames
    double loopEnd = 0.0;    // frames, exclusive
    float gain = 1.0f;       // linear
    float pan = 0.0f;        // as written in the SFZ file, unscaled
    int32_t tune = 0;        // 1/128 semitone
    float* data = nullptr;   // interleaved when channels == 2; followed by zeroed slack
    double sampleRate = 44100.0;
    int32_t frameCount = 0;
    int32_t loopMode = 0;  // 0 none, 1 continuous
    int32_t bitsPerSample = 24;
    int32_t channels = 1;
    int8_t loKey = 0;
    int8_t hiKey = 127;
    int8_t rootKey = 60;
    int8_t loVel = 0;
    int8_t hiVel = 127;
    uint8_t isLoopTrigger = 0;
    int32_t slicePosition = 0;  // REX ticks
};

// Sample buffers: `floats` samples followed by `slackBytes` zero bytes. Null on failure.
// The floats themselves are left uninitialised for the reader to fill.
float* allocSampleData(size_t floats, size_t slackBytes);
void freeSampleData(float* data);

}  // namespace corvane

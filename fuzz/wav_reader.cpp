// libFuzzer target: any byte string as a WAV file image.
#include <cstddef>
#include <cstdint>

#include "content/WavReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    corvane::SampleZone zone;
    corvane::readWavMemory(data, size, zone);
    if (zone.data) {
        // Everything the zone claims must be readable, slack included.
        const int32_t channels = zone.channels > 0 ? zone.channels : 1;
        volatile float sum = 0.0f;
        const int64_t floats = int64_t{zone.frameCount} * channels + 256;
        for (int64_t i = 0; i < floats; ++i)
            sum = sum + zone.data[i];
        corvane::freeSampleData(zone.data);
    }
    return 0;
}

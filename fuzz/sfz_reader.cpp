// libFuzzer target: any byte string as SFZ text. Samples come from memory: a region's
// sample decodes a small WAV image, or fails to open when its path has an odd length, so
// no file is touched.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "content/SfzReader.h"
#include "content/WavReader.h"
#include "platform/MessageBox.h"

namespace {

const uint8_t kWav[] = {'R', 'I', 'F',  'F',  44, 0,    0,    0, 'W',  'A', 'V', 'E',  'f',
                        'm', 't', ' ',  16,   0,  0,    0,    1, 0,    2,   0,   0x44, 0xac,
                        0,   0,   0x10, 0xb1, 2,  0,    4,    0, 16,   0,   'd', 'a',  't',
                        'a', 8,   0,    0,    0,  0xff, 0x7f, 0, 0x80, 1,   0,   2,    0};

bool openFromMemory(void*, const std::string& path, corvane::SampleZone& zone) {
    if (path.size() % 2) return false;
    corvane::readWavMemory(kWav, sizeof kWav, zone);
    return true;
}

void discard(void*, const char*, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    corvane::platform::setMessageSink(discard, nullptr);
    corvane::SampleMap map;
    std::strcpy(map.sampleDirectory, "C:\\Fuzz\\");
    corvane::readSfzText(reinterpret_cast<const char*>(data), size, map, openFromMemory);
    for (int32_t i = 0; i < map.zoneCount; ++i) {
        const corvane::SampleZone& z = map.zones[i];
        if (z.data && z.frameCount != 2) __builtin_trap();
    }
    return 0;
}

#include "content/SampleMap.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvane {

float* allocSampleData(size_t floats, size_t slackBytes) {
    if (floats > (SIZE_MAX - slackBytes) / sizeof(float)) return nullptr;
    const size_t bytes = floats * sizeof(float) + slackBytes;
    auto* p = static_cast<unsigned char*>(std::malloc(bytes == 0 ? 1 : bytes));
    if (!p) return nullptr;
    std::memset(p + floats * sizeof(float), 0, slackBytes);
    return reinterpret_cast<float*>(p);
}

void freeSampleData(float* data) {
    std::free(data);
}

SampleMap::~SampleMap() {
    clear();
}

void SampleMap::clear() {
    for (int32_t i = 0; i < zoneCount; ++i)
        freeSampleData(zones[i].data);
    delete[] zones;
    zones = nullptr;
    zoneCount = 0;
    zoneCapacity = 0;
}

bool SampleMap::beginZones(int32_t n) {
    clear();
    if (n <= 0) return false;
    zones = new (std::nothrow) SampleZone[static_cast<size_t>(n)];
    if (!zones) return false;
    zoneCapacity = n;
    return true;
}

SampleZone* SampleMap::appendZone() {
    if (zoneCount >= zoneCapacity) return nullptr;
    SampleZone* z = &zones[zoneCount++];
    *z = SampleZone{};
    return z;
}

void SampleMap::markKeys(const SampleZone& zone) {
    const int first = std::min(std::max(zone.loKey - 24, 0), kKeyMapSize - 1);
    const int last = std::min(std::max(zone.hiKey - 24, 0), kKeyMapSize - 1);
    for (int i = first; i <= last; ++i)
        keyMap[i] = 1;
}

void SampleMap::clearKeyMap() {
    std::memset(keyMap, 0, sizeof keyMap);
}

const SampleZone* SampleMap::findZone(int key, int velocity) const {
    for (int32_t i = zoneCount - 1; i >= 0; --i) {
        const SampleZone& z = zones[i];
        if (z.loKey <= key && key <= z.hiKey && z.loVel <= velocity && velocity <= z.hiVel)
            return &z;
    }
    return nullptr;
}

int32_t SampleMap::sliceDurationSamples(const SampleZone& trigger, int slice, double tempo) const {
    if (slice < 0 || slice >= sliceCount || slice >= zoneCount) return 0;
    const int32_t end = (slice == sliceCount - 1 || slice + 1 >= zoneCount)
                            ? trigger.slicePosition
                            : zones[slice + 1].slicePosition;
    const double ticks = static_cast<double>(end) - zones[slice].slicePosition;
    if (tempo <= 0.0) tempo = 120.0;
    // ticks / (tempo * 256) seconds, at the trigger zone's own rate.
    const double samples = ticks / (tempo * 256.0) * trigger.sampleRate + 0.4999999;
    // Positions far apart (from a damaged loop) give lengths past the integer range.
    if (!(samples < 2147483647.0)) return INT32_MAX;
    if (!(samples > -2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(samples);
}

}  // namespace corvane

#pragma once
#include <cstdint>

#include "content/SampleZone.h"

namespace corvane {

// The engine's in-memory instrument: a flat array of zones, the keys they cover and the
// folder the instrument came from. Written only by the loader while the audio thread stays
// out (see Harrow's loading/renderBusy hand-over); read by the audio thread.
class SampleMap {
  public:
    SampleMap() = default;
    ~SampleMap();
    SampleMap(const SampleMap&) = delete;
    SampleMap& operator=(const SampleMap&) = delete;

    // Frees every zone's data and the zone array. The engine resets its voices around it.
    void clear();
    // Allocates room for n zones; zoneCount becomes 0. False when n is not positive or the
    // allocation fails (the map then stays empty).
    bool beginZones(int32_t n);
    // Takes the next zone record, reset to the defaults; null when the array is full.
    SampleZone* appendZone();
    void markKeys(const SampleZone& zone);
    void clearKeyMap();
    // The last zone whose key and velocity ranges hold (key, velocity); null if none.
    const SampleZone* findZone(int key, int velocity) const;
    // Length in output frames of REX slice `slice` at the given tempo.
    int32_t sliceDurationSamples(const SampleZone& trigger, int slice, double tempo) const;

    bool empty() const { return zoneCount == 0; }

    static constexpr int kKeyMapSize = 60;      // keys 24..83
    static constexpr int kDirectorySize = 254;  // 253 characters and the terminator

    SampleZone* zones = nullptr;
    int32_t zoneCount = 0;
    int32_t zoneCapacity = 0;
    int32_t sliceCount = 0;
    uint8_t keyMap[kKeyMapSize] = {};
    char sampleDirectory[kDirectorySize] = {};
};

}  // namespace corvane

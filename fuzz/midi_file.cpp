// Fuzz target: the Standard MIDI File reader must reject or accept any byte string without
// reading outside it, and what it accepts must be time-ordered with finite times.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "../tools/render/MidiFile.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    corvane::render::MidiSong song;
    std::string error;
    // The last byte picks between the file's tempo map and a fixed tempo.
    const double fixed = size > 0 && (data[size - 1] & 1) ? 97.0 : 0.0;
    if (!corvane::render::parseMidiFile(data, size, song, error, fixed)) {
        if (error.empty()) std::abort();
        return 0;
    }
    double last = 0.0;
    for (const auto& e : song.events) {
        if (!std::isfinite(e.seconds) || e.seconds < last) std::abort();
        if (e.size < 2 || e.size > 3 || e.bytes[0] < 0x80 || e.bytes[0] >= 0xF0) std::abort();
        last = e.seconds;
    }
    if (song.tempo.empty() || !std::isfinite(song.endSeconds) || song.endSeconds < last)
        std::abort();
    (void)song.quartersAt(last * 0.5);
    return 0;
}

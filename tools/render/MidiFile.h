#pragma once
// Standard MIDI File reader: formats 0 and 1, all tracks merged into one time-ordered list,
// running status, and the tempo map turned into seconds. Every length and count read from the
// file is checked against the bytes that are really there.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::render {

// One channel message (note, controller, program, pressure, pitch bend).
struct MidiEvent {
    uint64_t tick = 0;     // position in file ticks
    double seconds = 0.0;  // position in seconds, from the tempo map
    uint8_t bytes[3] = {0, 0, 0};
    uint8_t size = 0;  // 2 or 3
};

// A tempo that holds from `tick` (and `seconds`) on.
struct TempoChange {
    uint64_t tick = 0;
    double seconds = 0.0;
    double quarters = 0.0;  // position in quarter notes
    double bpm = 120.0;
};

struct MidiSong {
    int format = 0;
    int trackCount = 0;
    int ticksPerQuarter = 480;       // for SMPTE timing: ticks per quarter at 120 BPM
    std::vector<MidiEvent> events;   // sorted by time; events at the same time keep file order
    std::vector<TempoChange> tempo;  // never empty; the first entry is at tick 0
    double endSeconds = 0.0;         // time of the last event, end-of-track included

    // Tempo in force at `seconds` and the position in quarter notes there.
    double bpmAt(double seconds) const;
    double quartersAt(double seconds) const;
};

// Parses a whole file held in memory. On failure returns false and sets `error` to a one-line
// reason. `fixedBpm` > 0 replaces the file's tempo map with that constant tempo.
bool parseMidiFile(const uint8_t* data, size_t size, MidiSong& song, std::string& error,
                   double fixedBpm = 0.0);

// Reads and parses the file at `path` (error names the file on failure).
bool loadMidiFile(const std::string& path, MidiSong& song, std::string& error,
                  double fixedBpm = 0.0);

// Writes a format 1 file: one tempo track and one note track (used by the demo generator and
// the tests). Tempo changes are (tick, bpm) pairs; notes are channel messages at ticks.
struct MidiWriteEvent {
    uint64_t tick;
    uint8_t status, data1, data2;
};
std::vector<uint8_t> buildMidiFile(int ticksPerQuarter,
                                   const std::vector<std::pair<uint64_t, double>>& tempoChanges,
                                   std::vector<MidiWriteEvent> events);

}  // namespace corvane::render

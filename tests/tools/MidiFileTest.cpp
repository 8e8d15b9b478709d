// The Standard MIDI File reader: merging, running status, tempo maps and rejection of
// damaged files. Expected times are worked out by hand from ticks and tempos.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MidiFile.h"

using corvane::render::buildMidiFile;
using corvane::render::MidiSong;
using corvane::render::parseMidiFile;

namespace {

std::vector<uint8_t> header(int format, int tracks, int division) {
    return {'M',
            'T',
            'h',
            'd',
            0,
            0,
            0,
            6,
            0,
            static_cast<uint8_t>(format),
            0,
            static_cast<uint8_t>(tracks),
            static_cast<uint8_t>(division >> 8),
            static_cast<uint8_t>(division & 0xFF)};
}

void addTrack(std::vector<uint8_t>& file, const std::vector<uint8_t>& body) {
    const uint32_t n = static_cast<uint32_t>(body.size());
    const uint8_t h[8] = {'M',
                          'T',
                          'r',
                          'k',
                          static_cast<uint8_t>(n >> 24),
                          static_cast<uint8_t>(n >> 16),
                          static_cast<uint8_t>(n >> 8),
                          static_cast<uint8_t>(n)};
    file.insert(file.end(), h, h + 8);
    file.insert(file.end(), body.begin(), body.end());
}

bool parse(const std::vector<uint8_t>& file, MidiSong& song, std::string& error, double bpm = 0.0) {
    return parseMidiFile(file.data(), file.size(), song, error, bpm);
}

}  // namespace

TEST(MidiFile, FormatZeroRunningStatusAndDefaultTempo) {
    // 96 ticks per quarter, no tempo event: 120 BPM, so 96 ticks = 0.5 s.
    auto file = header(0, 1, 96);
    addTrack(file, {0x00, 0x90, 60, 100,  // note on
                    0x60, 62, 90,         // running status: note on 62 at tick 96
                    0x30, 60, 0,          // running status: velocity 0 at tick 144
                    0x00, 0xC0, 5,        // program change, one data byte
                    0x10, 7,              // running status with one data byte
                    0x00, 0xFF, 0x2F, 0x00});
    MidiSong song;
    std::string error;
    ASSERT_TRUE(parse(file, song, error)) << error;
    ASSERT_EQ(song.events.size(), 5u);
    EXPECT_EQ(song.events[1].bytes[0], 0x90);
    EXPECT_EQ(song.events[1].bytes[1], 62);
    EXPECT_DOUBLE_EQ(song.events[1].seconds, 0.5);
    EXPECT_DOUBLE_EQ(song.events[2].seconds, 0.75);
    EXPECT_EQ(song.events[3].size, 2);
    EXPECT_EQ(song.events[4].bytes[0], 0xC0);
    EXPECT_EQ(song.events[4].bytes[1], 7);
    EXPECT_DOUBLE_EQ(song.events[4].seconds, 160.0 / 96 * 0.5);
    EXPECT_DOUBLE_EQ(song.bpmAt(0.0), 120.0);
}

TEST(MidiFile, FormatOneMergesTracksAndFollowsTheTempoMap) {
    // Track 1: 100 BPM from 0, 150 BPM from tick 960 (480 per quarter).
    // Track 2: notes at ticks 480, 960 and 1440, plus sysex and other meta events to skip.
    auto file = header(1, 2, 480);
    addTrack(file, {0x00, 0xFF, 0x51, 3, 0x09, 0x27, 0xC0,        // 600000 us = 100 BPM
                    0x87, 0x40, 0xFF, 0x51, 3, 0x06, 0x1A, 0x80,  // tick 960: 400000 us
                    0x00, 0xFF, 0x2F, 0x00});
    addTrack(file, {0x00, 0xFF, 0x03, 2,    'h',  'i',   // track name
                    0x00, 0xF0, 3,    0x7E, 0x01, 0xF7,  // sysex
                    0x83, 0x60, 0x91, 40,   100,         // tick 480
                    0x83, 0x60, 41,   100,               // tick 960
                    0x83, 0x60, 0x81, 40,   0,           // tick 1440
                    0x00, 0xFF, 0x2F, 0x00});
    MidiSong song;
    std::string error;
    ASSERT_TRUE(parse(file, song, error)) << error;
    EXPECT_EQ(song.format, 1);
    EXPECT_EQ(song.trackCount, 2);
    ASSERT_EQ(song.events.size(), 3u);
    // One quarter at 100 BPM is 0.6 s; at 150 BPM 0.4 s.
    EXPECT_NEAR(song.events[0].seconds, 0.6, 1e-12);
    EXPECT_NEAR(song.events[1].seconds, 1.2, 1e-12);
    EXPECT_NEAR(song.events[2].seconds, 1.6, 1e-12);
    EXPECT_NEAR(song.endSeconds, 1.6, 1e-12);
    EXPECT_DOUBLE_EQ(song.bpmAt(1.1), 100.0);
    EXPECT_DOUBLE_EQ(song.bpmAt(1.2), 150.0);
    EXPECT_NEAR(song.quartersAt(1.4), 2.5, 1e-12);

    // A fixed tempo replaces the map: 480 ticks = 0.25 s at 240 BPM.
    ASSERT_TRUE(parse(file, song, error, 240.0)) << error;
    EXPECT_NEAR(song.events[2].seconds, 0.75, 1e-12);
    EXPECT_DOUBLE_EQ(song.bpmAt(1.0), 240.0);
}

TEST(MidiFile, EventsAtOneTickKeepTrackOrder) {
    auto file = header(1, 2, 96);
    addTrack(file, {0x10, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00});
    addTrack(file, {0x10, 0x90, 60, 99, 0x00, 0xFF, 0x2F, 0x00});
    MidiSong song;
    std::string error;
    ASSERT_TRUE(parse(file, song, error)) << error;
    ASSERT_EQ(song.events.size(), 2u);
    EXPECT_EQ(song.events[0].bytes[0], 0x80);
    EXPECT_EQ(song.events[1].bytes[0], 0x90);
}

TEST(MidiFile, SmpteDivisionCountsTicksPerSecond) {
    // 25 frames per second, 40 ticks per frame: 1000 ticks per second, tempo events ignored.
    auto file = header(0, 1, 0xE728);
    addTrack(file, {0x00, 0xFF, 0x51, 3, 0x01, 0x00, 0x00, 0x87, 0x68, 0x90, 60, 100});
    MidiSong song;
    std::string error;
    ASSERT_TRUE(parse(file, song, error)) << error;
    ASSERT_EQ(song.events.size(), 1u);
    EXPECT_NEAR(song.events[0].seconds, 1.0, 1e-12);
}

TEST(MidiFile, DamagedFilesAreRejectedWithAReason) {
    MidiSong song;
    std::string error;
    const std::vector<uint8_t> notMidi = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
    EXPECT_FALSE(parse(notMidi, song, error));
    EXPECT_NE(error.find("MThd"), std::string::npos);

    auto shortHeader = header(0, 1, 96);
    shortHeader.resize(10);
    EXPECT_FALSE(parse(shortHeader, song, error));

    EXPECT_FALSE(parse(header(2, 1, 96), song, error));
    EXPECT_NE(error.find("format 2"), std::string::npos);

    EXPECT_FALSE(parse(header(0, 0, 96), song, error));  // no tracks at all

    auto zeroDivision = header(0, 1, 0);
    addTrack(zeroDivision, {0x00, 0xFF, 0x2F, 0x00});
    EXPECT_FALSE(parse(zeroDivision, song, error));

    auto truncated = header(0, 1, 96);
    addTrack(truncated, {0x00, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00});
    truncated.resize(truncated.size() - 3);  // the chunk claims more than is there
    EXPECT_FALSE(parse(truncated, song, error));
    EXPECT_NE(error.find("truncated"), std::string::npos);

    struct Case {
        std::vector<uint8_t> body;
        const char* why;
    };
    const Case cases[] = {
        {{0x00, 60, 100}, "running status"},              // data byte first
        {{0x00, 0x90, 60}, "truncated channel message"},  // missing velocity
        {{0x00, 0x90, 60, 0x90}, "status byte"},          // status where data belongs
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "delta time"},   // delta longer than 4 bytes
        {{0x00, 0xFF, 0x51, 0x7F, 1, 2}, "meta event"},   // meta length past the end
        {{0x00, 0xF0, 0x81, 0x00}, "system exclusive"},   // sysex length past the end
        {{0x00, 0xF8}, "system message"},                 // realtime byte in a file
    };
    for (const Case& c : cases) {
        auto file = header(0, 1, 96);
        addTrack(file, c.body);
        EXPECT_FALSE(parse(file, song, error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
}

TEST(MidiFile, WrittenFilesReadBack) {
    // Tempo 120 then 60 from tick 960 (480 per quarter): tick 1440 lies at 1.0 + 1.0 s.
    const auto bytes = buildMidiFile(480, {{0, 120.0}, {960, 60.0}},
                                     {{1440, 0x80, 60, 0}, {0, 0x90, 60, 100}, {0, 0xC0, 3, 0}});
    MidiSong song;
    std::string error;
    ASSERT_TRUE(parseMidiFile(bytes.data(), bytes.size(), song, error)) << error;
    ASSERT_EQ(song.events.size(), 3u);
    EXPECT_EQ(song.events[0].bytes[0], 0x90);
    EXPECT_EQ(song.events[1].bytes[0], 0xC0);
    EXPECT_EQ(song.events[1].size, 2);
    EXPECT_NEAR(song.events[2].seconds, 2.0, 1e-9);
}

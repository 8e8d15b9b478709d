#include "MidiFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace corvane::render {

namespace {

// Longest file we accept: far beyond any real song, small enough to read into memory.
constexpr size_t kMaxFileBytes = 64u << 20;

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    bool done() const { return p_ >= end_; }
    bool byte(uint8_t& out) {
        if (p_ >= end_) return false;
        out = *p_++;
        return true;
    }
    bool peek(uint8_t& out) const {
        if (p_ >= end_) return false;
        out = *p_;
        return true;
    }
    bool u16(uint32_t& out) {
        if (left() < 2) return false;
        out = (uint32_t(p_[0]) << 8) | p_[1];
        p_ += 2;
        return true;
    }
    bool u32(uint32_t& out) {
        if (left() < 4) return false;
        out = (uint32_t(p_[0]) << 24) | (uint32_t(p_[1]) << 16) | (uint32_t(p_[2]) << 8) | p_[3];
        p_ += 4;
        return true;
    }
    // Variable-length quantity: at most four bytes, seven bits each.
    bool vlq(uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!byte(b)) return false;
            out = (out << 7) | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool skip(size_t n) {
        if (left() < n) return false;
        p_ += n;
        return true;
    }
    const uint8_t* pos() const { return p_; }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

struct RawTempo {
    uint64_t tick;
    uint32_t microsPerQuarter;
    size_t order;
};

struct RawEvent {
    MidiEvent event;
    size_t order;  // merge order: track by track, event by event
};

int dataBytesOf(uint8_t status) {
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0:
            return 1;
        default:
            return 2;
    }
}

bool readTrack(Reader& r, int track, std::vector<RawEvent>& events, std::vector<RawTempo>& tempos,
               uint64_t& endTick, size_t& order, std::string& error) {
    uint64_t tick = 0;
    uint8_t running = 0;
    auto fail = [&](const char* what) {
        char text[160];
        std::snprintf(text, sizeof text, "track %d: %s", track + 1, what);
        error = text;
        return false;
    };
    while (!r.done()) {
        uint32_t delta;
        if (!r.vlq(delta)) return fail("bad or truncated delta time");
        tick += delta;
        uint8_t first;
        if (!r.byte(first)) return fail("event missing after delta time");
        if (first == 0xFF) {
            uint8_t type;
            uint32_t length;
            if (!r.byte(type) || !r.vlq(length)) return fail("truncated meta event");
            if (r.left() < length) return fail("meta event runs past the end of the track");
            const uint8_t* body = r.pos();
            r.skip(length);
            if (type == 0x51 && length == 3) {
                const uint32_t us = (uint32_t(body[0]) << 16) | (uint32_t(body[1]) << 8) | body[2];
                if (us > 0) tempos.push_back({tick, us, order++});
            } else if (type == 0x2F) {
                endTick = std::max(endTick, tick);
                return true;  // anything after end-of-track is ignored
            }
            continue;
        }
        if (first == 0xF0 || first == 0xF7) {
            uint32_t length;
            if (!r.vlq(length) || !r.skip(length)) return fail("truncated system exclusive event");
            continue;
        }
        if (first >= 0xF1) return fail("system message inside a track");
        uint8_t status = first;
        uint8_t data[2] = {0, 0};
        int have = 0;
        if (first < 0x80) {
            if (!running) return fail("data byte without a status (running status not set)");
            status = running;
            data[0] = first;
            have = 1;
        }
        running = status;
        const int need = dataBytesOf(status);
        for (; have < need; ++have) {
            if (!r.byte(data[have])) return fail("truncated channel message");
        }
        if ((data[0] | data[1]) & 0x80) return fail("status byte where a data byte belongs");
        RawEvent e;
        e.event.tick = tick;
        e.event.bytes[0] = status;
        e.event.bytes[1] = data[0];
        e.event.bytes[2] = data[1];
        e.event.size = static_cast<uint8_t>(1 + need);
        e.order = order++;
        events.push_back(e);
    }
    endTick = std::max(endTick, tick);  // a track without end-of-track ends with its last event
    return true;
}

}  // namespace

double MidiSong::bpmAt(double s) const {
    double bpm = tempo.empty() ? 120.0 : tempo.front().bpm;
    for (const TempoChange& t : tempo) {
        if (t.seconds > s) break;
        bpm = t.bpm;
    }
    return bpm;
}

double MidiSong::quartersAt(double s) const {
    if (tempo.empty()) return s * 2.0;
    const TempoChange* at = &tempo.front();
    for (const TempoChange& t : tempo) {
        if (t.seconds > s) break;
        at = &t;
    }
    return at->quarters + (s - at->seconds) * at->bpm / 60.0;
}

bool parseMidiFile(const uint8_t* data, size_t size, MidiSong& song, std::string& error,
                   double fixedBpm) {
    song = MidiSong{};
    Reader r(data, size);
    uint32_t magic = 0, headerLength = 0, format = 0, trackCount = 0, division = 0;
    if (!r.u32(magic) || magic != 0x4D546864)  // "MThd"
        return error = "not a Standard MIDI File (no MThd header)", false;
    if (!r.u32(headerLength) || headerLength < 6 || !r.u16(format) || !r.u16(trackCount) ||
        !r.u16(division) || !r.skip(headerLength - 6))
        return error = "truncated MIDI file header", false;
    if (format > 1) {
        error = "MIDI file format " + std::to_string(format) + " is not supported (only 0 and 1)";
        return false;
    }
    if (division == 0) return error = "MIDI file header has a time division of 0", false;
    // SMPTE timing: the high byte is minus the frames per second, the low byte ticks per frame.
    double ticksPerSecond = 0.0;
    if (division & 0x8000) {
        const int fps = -static_cast<int8_t>(division >> 8);
        const int perFrame = division & 0xFF;
        if (fps <= 0 || perFrame == 0) return error = "MIDI file has a bad SMPTE division", false;
        ticksPerSecond = fps == 29 ? 29.97 * perFrame : double(fps) * perFrame;
        song.ticksPerQuarter = static_cast<int>(ticksPerSecond / 2.0 + 0.5);
    } else {
        song.ticksPerQuarter = static_cast<int>(division);
    }
    song.format = static_cast<int>(format);

    std::vector<RawEvent> raw;
    std::vector<RawTempo> tempos;
    uint64_t endTick = 0;
    size_t order = 0;
    int tracks = 0;
    // Track chunks are read until the data ends; unknown chunk types are skipped.
    while (r.left() >= 8 && tracks < static_cast<int>(trackCount)) {
        uint32_t type = 0, length = 0;
        r.u32(type);
        r.u32(length);
        if (r.left() < length) {
            error = "MIDI file is truncated (chunk " + std::to_string(tracks + 1) +
                    " runs past the end of the file)";
            return false;
        }
        Reader chunk(r.pos(), length);
        r.skip(length);
        if (type != 0x4D54726B) continue;  // "MTrk"
        std::string why;
        if (!readTrack(chunk, tracks, raw, tempos, endTick, order, why))
            return error = "malformed MIDI file: " + why, false;
        ++tracks;
    }
    if (tracks == 0) return error = "MIDI file has no tracks", false;
    song.trackCount = tracks;

    // Merge: by tick, then in file order (track by track).
    std::sort(raw.begin(), raw.end(), [](const RawEvent& a, const RawEvent& b) {
        return a.event.tick != b.event.tick ? a.event.tick < b.event.tick : a.order < b.order;
    });
    std::sort(tempos.begin(), tempos.end(), [](const RawTempo& a, const RawTempo& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });

    // Tempo map in seconds. Fixed tempo or SMPTE timing ignore the file's tempo events.
    const bool useFileTempo = fixedBpm <= 0.0 && ticksPerSecond == 0.0;
    const double startBpm = fixedBpm > 0.0 ? fixedBpm : 120.0;
    song.tempo.push_back({0, 0.0, 0.0, startBpm});
    if (useFileTempo) {
        for (const RawTempo& t : tempos) {
            const double bpm = 60e6 / t.microsPerQuarter;
            TempoChange& last = song.tempo.back();
            if (t.tick == last.tick) {
                last.bpm = bpm;  // several at one tick: the last one wins
                continue;
            }
            const double quarters = double(t.tick) / song.ticksPerQuarter;
            const double seconds = last.seconds + (quarters - last.quarters) * 60.0 / last.bpm;
            song.tempo.push_back({t.tick, seconds, quarters, bpm});
        }
    }
    auto secondsOf = [&](uint64_t tick) {
        if (ticksPerSecond > 0.0) return double(tick) / ticksPerSecond;
        const double quarters = double(tick) / song.ticksPerQuarter;
        const TempoChange* at = &song.tempo.front();
        for (const TempoChange& t : song.tempo) {
            if (t.tick > tick) break;
            at = &t;
        }
        return at->seconds + (quarters - at->quarters) * 60.0 / at->bpm;
    };
    if (ticksPerSecond > 0.0) {
        // Quarter positions reported to the plug-in follow the constant tempo.
        song.tempo.front().bpm = startBpm;
    }
    song.events.reserve(raw.size());
    size_t tempoIndex = 0;
    for (const RawEvent& e : raw) {
        MidiEvent ev = e.event;
        // Events arrive in tick order, so the tempo segment only moves forward.
        if (ticksPerSecond > 0.0) {
            ev.seconds = double(ev.tick) / ticksPerSecond;
        } else {
            while (tempoIndex + 1 < song.tempo.size() && song.tempo[tempoIndex + 1].tick <= ev.tick)
                ++tempoIndex;
            const TempoChange& t = song.tempo[tempoIndex];
            ev.seconds =
                t.seconds + (double(ev.tick) / song.ticksPerQuarter - t.quarters) * 60.0 / t.bpm;
        }
        song.events.push_back(ev);
    }
    song.endSeconds = secondsOf(endTick);
    if (!song.events.empty())
        song.endSeconds = std::max(song.endSeconds, song.events.back().seconds);
    return true;
}

bool loadMidiFile(const std::string& path, MidiSong& song, std::string& error, double fixedBpm) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open MIDI file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    bool tooLong = false;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        if (bytes.size() + n > kMaxFileBytes) {
            tooLong = true;
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) return error = "cannot read MIDI file " + path, false;
    if (tooLong) return error = "MIDI file " + path + " is too large", false;
    std::string why;
    if (!parseMidiFile(bytes.data(), bytes.size(), song, why, fixedBpm)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

namespace {
void putVlq(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t tmp[5];
    int n = 0;
    tmp[n++] = v & 0x7F;
    while (v >>= 7)
        tmp[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
    while (n--)
        out.push_back(tmp[n]);
}
void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}
void putTrack(std::vector<uint8_t>& out, const std::vector<uint8_t>& body) {
    putU32(out, 0x4D54726B);
    putU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}
}  // namespace

std::vector<uint8_t> buildMidiFile(int ticksPerQuarter,
                                   const std::vector<std::pair<uint64_t, double>>& tempoChanges,
                                   std::vector<MidiWriteEvent> events) {
    std::vector<uint8_t> out;
    putU32(out, 0x4D546864);
    putU32(out, 6);
    const uint8_t header[6] = {0,
                               1,
                               0,
                               2,
                               static_cast<uint8_t>(ticksPerQuarter >> 8),
                               static_cast<uint8_t>(ticksPerQuarter & 0xFF)};
    out.insert(out.end(), header, header + 6);

    std::vector<uint8_t> tempoTrack;
    uint64_t last = 0;
    for (const auto& [tick, bpm] : tempoChanges) {
        putVlq(tempoTrack, static_cast<uint32_t>(tick - last));
        last = tick;
        const uint32_t us = static_cast<uint32_t>(60e6 / bpm + 0.5);
        const uint8_t meta[6] = {0xFF,
                                 0x51,
                                 3,
                                 static_cast<uint8_t>(us >> 16),
                                 static_cast<uint8_t>(us >> 8),
                                 static_cast<uint8_t>(us)};
        tempoTrack.insert(tempoTrack.end(), meta, meta + 6);
    }
    const uint8_t eot[4] = {0, 0xFF, 0x2F, 0};
    tempoTrack.insert(tempoTrack.end(), eot, eot + 4);
    putTrack(out, tempoTrack);

    std::stable_sort(
        events.begin(), events.end(),
        [](const MidiWriteEvent& a, const MidiWriteEvent& b) { return a.tick < b.tick; });
    std::vector<uint8_t> noteTrack;
    last = 0;
    uint8_t running = 0;
    for (const MidiWriteEvent& e : events) {
        putVlq(noteTrack, static_cast<uint32_t>(e.tick - last));
        last = e.tick;
        if (e.status != running) noteTrack.push_back(e.status);  // running status
        running = e.status;
        noteTrack.push_back(e.data1 & 0x7F);
        if (dataBytesOf(e.status) == 2) noteTrack.push_back(e.data2 & 0x7F);
    }
    noteTrack.insert(noteTrack.end(), eot, eot + 4);
    putTrack(out, noteTrack);
    return out;
}

}  // namespace corvane::render

#pragma once
// Helpers for the content tests: WAV images built byte by byte, a scratch folder and a
// capture of the user messages.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Scratch.h"
#include "platform/MessageBox.h"

namespace corvane::test {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
inline void putId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(id[i]));
}
inline void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

// A chunk with the given size field; the payload is padded to even length unless the
// size field is stated explicitly.
inline Bytes chunk(const char* id, const Bytes& payload, int64_t sizeField = -1) {
    Bytes b;
    putId(b, id);
    put32(b, sizeField < 0 ? uint32_t(payload.size()) : uint32_t(sizeField));
    append(b, payload);
    if (sizeField < 0 && payload.size() % 2) b.push_back(0);
    return b;
}

inline Bytes fmtChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes p;
    put16(p, tag);
    put16(p, channels);
    put32(p, rate);
    put32(p, rate * channels * bits / 8);
    put16(p, uint16_t(channels * bits / 8));
    put16(p, bits);
    return chunk("fmt ", p);
}

// WAVE_FORMAT_EXTENSIBLE with the sub-format GUID {subTag}-0000-0010-8000-00AA00389B71.
inline Bytes extensibleFmtChunk(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes p;
    put16(p, 0xfffe);
    put16(p, channels);
    put32(p, rate);
    put32(p, rate * channels * bits / 8);
    put16(p, uint16_t(channels * bits / 8));
    put16(p, bits);
    put16(p, 22);
    put16(p, bits);
    put32(p, channels == 2 ? 3 : 4);
    put32(p, subTag);
    const uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                              0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    p.insert(p.end(), tail, tail + 12);
    return chunk("fmt ", p);
}

// A sampler chunk with one loop (or none) from `start` to `end`, inclusive.
inline Bytes smplChunk(uint32_t loops, uint32_t start, uint32_t end) {
    Bytes p(28, 0);
    put32(p, loops);
    put32(p, 0);
    put32(p, 0);  // cue id
    put32(p, 0);  // type
    put32(p, start);
    put32(p, end);
    put32(p, 0);
    put32(p, 0);
    return chunk("smpl", p);
}

// "RIFF" <size> "WAVE" and the chunks; the size field is the true one unless given.
inline Bytes riff(const std::vector<Bytes>& chunks, int64_t riffSize = -1) {
    Bytes body;
    for (const Bytes& c : chunks)
        append(body, c);
    Bytes b;
    putId(b, "RIFF");
    put32(b, riffSize < 0 ? uint32_t(body.size() + 4) : uint32_t(riffSize));
    putId(b, "WAVE");
    append(b, body);
    return b;
}

inline Bytes pcm16(const std::vector<int16_t>& samples) {
    Bytes b;
    for (int16_t s : samples)
        put16(b, uint16_t(s));
    return b;
}

// A scratch folder removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() : path_(makeScratchFolder("corvane")) {}
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file below the folder, creating the folders on the way.
    std::filesystem::path write(const std::string& relative, const Bytes& bytes) const {
        const std::filesystem::path p = path_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }
    std::filesystem::path write(const std::string& relative, const std::string& text) const {
        return write(relative, Bytes(text.begin(), text.end()));
    }

  private:
    std::filesystem::path path_;
};

// The stored (backslash) form of a path of this file system.
inline std::string stored(const std::filesystem::path& p) {
    std::string s = p.string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

// Collects every user message while it lives, then gives them back to the sink before it.
class MessageCapture {
  public:
    struct Message {
        std::string caption, text;
    };
    MessageCapture() : previous_(platform::messageSink(&previousContext_)) {
        platform::setMessageSink(&MessageCapture::sink, this);
    }
    ~MessageCapture() { platform::setMessageSink(previous_, previousContext_); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    std::vector<Message> messages;

  private:
    platform::MessageSink previous_;
    void* previousContext_ = nullptr;
    static void sink(void* context, const char* caption, const char* text) {
        static_cast<MessageCapture*>(context)->messages.push_back({caption, text});
    }
};

}  // namespace corvane::test

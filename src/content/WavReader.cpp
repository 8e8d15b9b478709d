#include "content/WavReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvane {
namespace {

constexpr float kScale16 = 3.0518509e-05f;  // 1/32767
constexpr float kScale24 = 0x1p-31f;        // a 24-bit sample sits in the top of an int32

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xfffe;

// The sub-format GUID of an extensible "fmt " chunk: its first two bytes carry the plain
// format tag, the other fourteen are fixed.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

// The file image. Reads past its end see zero bytes, as if the file were followed by
// padding; offsets are 64-bit so that no chunk size can wrap them around.
class Image {
  public:
    Image(const uint8_t* bytes, uint64_t size) : p_(bytes), size_(size) {}

    uint64_t size() const { return size_; }
    uint8_t at(uint64_t i) const { return i < size_ ? p_[i] : 0; }
    uint16_t u16(uint64_t i) const { return static_cast<uint16_t>(at(i) | at(i + 1) << 8); }
    uint32_t u32(uint64_t i) const {
        return static_cast<uint32_t>(at(i)) | static_cast<uint32_t>(at(i + 1)) << 8 |
               static_cast<uint32_t>(at(i + 2)) << 16 | static_cast<uint32_t>(at(i + 3)) << 24;
    }
    bool is(uint64_t i, const char* id) const {
        return at(i) == uint8_t(id[0]) && at(i + 1) == uint8_t(id[1]) &&
               at(i + 2) == uint8_t(id[2]) && at(i + 3) == uint8_t(id[3]);
    }
    // Chunk size at header h, rounded up to even.
    uint64_t chunkSize(uint64_t h) const { return (uint64_t{u32(h + 4)} + 1) & ~uint64_t{1}; }
    // Samples of width w starting at `start` that lie wholly inside the image.
    uint64_t wholeSamples(uint64_t start, uint64_t count, uint64_t w) const {
        if (start >= size_) return 0;
        return std::min(count, (size_ - start) / w);
    }
    const uint8_t* ptr(uint64_t i) const { return p_ + i; }

  private:
    const uint8_t* p_;
    uint64_t size_;
};

struct Format {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bits = 0;
};

class Decoder {
  public:
    Decoder(const Image& img, uint64_t formEnd, const Format& fmt, SampleZone& zone)
        : img_(img), formEnd_(formEnd), fmt_(fmt), zone_(zone) {}

    // Decodes the "data" chunk at h; returns the rounded size it used. Sets `failed` when
    // the sample buffer could not be allocated.
    uint64_t handleData(uint64_t h) {
        foundData = true;
        uint64_t n = img_.chunkSize(h);
        // A chunk that runs past the end of the file or of the RIFF form keeps the whole
        // frames that are there.
        const uint64_t present = h + 8 < formEnd_ ? formEnd_ - h - 8 : 0;
        if (n > present) {
            n = present;
            const uint64_t frameBytes = uint64_t{fmt_.bits} / 8 * fmt_.channels;
            if (frameBytes != 0) n -= n % frameBytes;
            n = (n + 1) & ~uint64_t{1};
        }
        zone_.channels = fmt_.channels;
        zone_.sampleRate = static_cast<double>(fmt_.sampleRate);

        uint64_t width;
        size_t slack;
        if (fmt_.bits == 16) {
            width = 2;
            slack = 4096;
        } else if (fmt_.bits == 24) {
            width = 3;
            slack = 4096;
        } else if (fmt_.bits == 32 && fmt_.tag == kTagFloat) {
            width = 4;
            slack = 2048;
        } else {
            return n;
        }
        const uint64_t count = n / width;
        // A later "data" chunk replaces an earlier one.
        freeSampleData(zone_.data);
        zone_.data = nullptr;
        zone_.frameCount = 0;
        float* out = allocSampleData(static_cast<size_t>(count), slack);
        if (!out) {
            failed = true;
            return n;
        }
        convert(h + 8, count, width, out);
        zone_.data = out;
        zone_.bitsPerSample = 32;
        zone_.frameCount = static_cast<int32_t>(count / fmt_.channels);
        return n;
    }

    void handleSmpl(uint64_t h) {
        if (img_.u32(h + 36) == 0) return;
        zone_.loopStart = static_cast<double>(img_.u32(h + 52));
        zone_.loopEnd = static_cast<double>(img_.u32(h + 56)) + 1.0;
        if (zone_.loopEnd - zone_.loopStart > 10.0) zone_.loopMode = 1;
    }

    bool foundData = false;
    bool failed = false;

  private:
    void convert(uint64_t start, uint64_t count, uint64_t width, float* out) const {
        // Whole samples inside the file are converted straight from the bytes; the few
        // that reach past its end read the zero padding.
        const uint64_t inside = img_.wholeSamples(start, count, width);
        const uint8_t* src = inside > 0 ? img_.ptr(start) : nullptr;
        if (width == 2) {
            for (uint64_t i = 0; i < inside; ++i, src += 2) {
                const auto s = static_cast<int16_t>(src[0] | src[1] << 8);
                out[i] = static_cast<float>(s) * kScale16;
            }
            for (uint64_t i = inside; i < count; ++i) {
                const auto s = static_cast<int16_t>(img_.u16(start + 2 * i));
                out[i] = static_cast<float>(s) * kScale16;
            }
        } else if (width == 3) {
            for (uint64_t i = 0; i < inside; ++i, src += 3) {
                const uint32_t u =
                    uint32_t{src[0]} << 8 | uint32_t{src[1]} << 16 | uint32_t{src[2]} << 24;
                out[i] = static_cast<float>(static_cast<int32_t>(u)) * kScale24;
            }
            for (uint64_t i = inside; i < count; ++i) {
                const uint64_t b = start + 3 * i;
                const uint32_t u = uint32_t{img_.at(b)} << 8 | uint32_t{img_.at(b + 1)} << 16 |
                                   uint32_t{img_.at(b + 2)} << 24;
                out[i] = static_cast<float>(static_cast<int32_t>(u)) * kScale24;
            }
        } else {
            if (inside > 0) std::memcpy(out, src, static_cast<size_t>(inside) * 4);
            for (uint64_t i = inside; i < count; ++i) {
                const uint32_t u = img_.u32(start + 4 * i);
                std::memcpy(&out[i], &u, 4);
            }
        }
    }

    const Image& img_;
    uint64_t formEnd_;
    Format fmt_;
    SampleZone& zone_;
};

// Reads the "fmt " chunk at f. An extensible chunk whose sub-format is PCM or IEEE float
// reads as the plain tag. False when the format gives no sample.
bool readFormat(const Image& img, uint64_t f, Format& fmt) {
    fmt.tag = img.u16(f + 8);
    fmt.channels = img.u16(f + 10);
    fmt.sampleRate = img.u32(f + 12);
    fmt.bits = img.u16(f + 22);
    if (fmt.tag == kTagExtensible) {
        fmt.tag = 0;
        if (img.u32(f + 4) >= 40) {
            bool tailMatches = true;
            for (int i = 0; i < 14; ++i)
                tailMatches &= img.at(f + 34 + i) == kSubFormatTail[i];
            const uint16_t sub = img.u16(f + 32);
            if (tailMatches && (sub == kTagPcm || sub == kTagFloat)) fmt.tag = sub;
        }
    }
    if (fmt.tag != kTagPcm && fmt.tag != kTagFloat) return false;
    // No channels would leave the frame count meaningless.
    return fmt.channels != 0;
}

void decode(const Image& img, SampleZone& zone) {
    const uint64_t S = img.size();
    if (S < 32 || !img.is(0, "RIFF") || S > kMaxWavFileBytes) return;
    const uint64_t L = std::min<uint64_t>(S, img.u32(4));
    zone.loopMode = 0;
    zone.loopStart = 0.0;
    if (L <= 12) return;

    uint64_t f = 12;
    while (f < L && !img.is(f, "fmt "))
        f += 8 + img.chunkSize(f);
    if (f >= L) return;
    Format fmt;
    if (!readFormat(img, f, fmt)) return;

    Decoder d(img, std::min<uint64_t>(S, uint64_t{img.u32(4)} + 8), fmt, zone);
    if (img.is(S - 16, "srob")) {
        // Marked files: scan every byte offset for the chunks.
        uint64_t off = 12;
        while (off < L && !d.failed) {
            if (img.is(off, "data")) {
                off = off + 8 + d.handleData(off) - 3;
            } else if (img.is(off, "smpl")) {
                d.handleSmpl(off);
                off = off + 8 + img.chunkSize(off) - 3;
            } else {
                ++off;
            }
        }
        return;
    }
    for (uint64_t off = 12; off < L && !d.failed; off += 8 + img.chunkSize(off)) {
        if (img.is(off, "data"))
            d.handleData(off);
        else if (img.is(off, "smpl"))
            d.handleSmpl(off);
    }
    if (d.foundData) return;
    // A broken chain: look for the chunks at every even offset.
    for (uint64_t off = 12; off < L && !d.failed; off += 2) {
        if (img.is(off, "data"))
            d.handleData(off);
        else if (img.is(off, "smpl"))
            d.handleSmpl(off);
    }
}

}  // namespace

void readWavMemory(const uint8_t* bytes, size_t size, SampleZone& zone) {
    decode(Image(bytes, size), zone);
}

void readWav(std::FILE* file, SampleZone& zone) {
    if (!file) return;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size >= 0 && static_cast<unsigned long>(size) <= kMaxWavFileBytes &&
        std::fseek(file, 0, SEEK_SET) == 0) {
        auto* buffer = static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
        if (buffer) {
            const size_t got = std::fread(buffer, 1, static_cast<size_t>(size), file);
            decode(Image(buffer, got), zone);
            std::free(buffer);
        }
    }
    std::fclose(file);
}

}  // namespace corvane

// The WAV writer of its own, for systems without libsndfile: a canonical RIFF file with a
// 16-byte "fmt " chunk (PCM) or an 18-byte one and a "fact" chunk (IEEE float).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "WavOut.h"

namespace corvane::render {

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
void putId(std::vector<uint8_t>& b, const char* id) {
    // Byte by byte: GCC 12 reports a false overflow for a range insert here.
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(id[i]));
}

class PlainOut : public WavOut {
  public:
    PlainOut(std::FILE* file, int rate, SampleFormat format)
        : file_(file), rate_(rate), format_(format) {
        bytesPerSample_ = format == SampleFormat::Float32 ? 4
                          : format == SampleFormat::Pcm24 ? 3
                                                          : 2;
    }
    ~PlainOut() override {
        if (file_) std::fclose(file_);
    }

    bool writeHeader() {
        const uint64_t dataBytes = frames_ * 2 * bytesPerSample_;
        const bool isFloat = format_ == SampleFormat::Float32;
        std::vector<uint8_t> h;
        putId(h, "RIFF");
        const uint64_t riff = 4 + (8 + (isFloat ? 18 : 16)) + (isFloat ? 12 : 0) + 8 + dataBytes;
        put32(h, uint32_t(std::min<uint64_t>(riff, 0xffffffffu)));
        putId(h, "WAVE");
        putId(h, "fmt ");
        put32(h, isFloat ? 18 : 16);
        put16(h, isFloat ? 3 : 1);
        put16(h, 2);
        put32(h, uint32_t(rate_));
        put32(h, uint32_t(rate_ * 2 * bytesPerSample_));
        put16(h, uint16_t(2 * bytesPerSample_));
        put16(h, uint16_t(8 * bytesPerSample_));
        if (isFloat) {
            put16(h, 0);
            putId(h, "fact");
            put32(h, 4);
            put32(h, uint32_t(std::min<uint64_t>(frames_, 0xffffffffu)));
        }
        putId(h, "data");
        put32(h, uint32_t(std::min<uint64_t>(dataBytes, 0xffffffffu)));
        return std::fseek(file_, 0, SEEK_SET) == 0 &&
               std::fwrite(h.data(), 1, h.size(), file_) == h.size();
    }

    bool write(const float* interleaved, int64_t frames) override {
        if (frames <= 0) return true;
        buffer_.clear();
        for (int64_t i = 0; i < frames * 2; ++i) {
            const float x = interleaved[i];
            if (format_ == SampleFormat::Float32) {
                uint32_t bits;
                std::memcpy(&bits, &x, 4);
                put32(buffer_, bits);
                continue;
            }
            const double full = format_ == SampleFormat::Pcm24 ? 8388607.0 : 32767.0;
            const double c = std::isnan(x) ? 0.0 : std::clamp(double(x), -1.0, 1.0);
            const int32_t v = int32_t(std::lrint(c * full));
            buffer_.push_back(uint8_t(v));
            buffer_.push_back(uint8_t(v >> 8));
            if (format_ == SampleFormat::Pcm24) buffer_.push_back(uint8_t(v >> 16));
        }
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) return false;
        frames_ += uint64_t(frames);
        return true;
    }

    bool close() override {
        bool ok = writeHeader();
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        return ok;
    }

  private:
    std::FILE* file_;
    int rate_;
    SampleFormat format_;
    int bytesPerSample_;
    uint64_t frames_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<WavOut> openWavOut(const std::string& path, int rate, SampleFormat format,
                                   std::string* error) {
    if (rate < 1) {
        *error = "cannot write a WAV file at this rate";
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot write " + path;
        return nullptr;
    }
    auto out = std::make_unique<PlainOut>(file, rate, format);
    if (!out->writeHeader()) {
        *error = "cannot write " + path;
        return nullptr;
    }
    return out;
}

}  // namespace corvane::render

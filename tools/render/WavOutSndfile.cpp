// The WAV writer through libsndfile.
#include <sndfile.h>

#include "WavOut.h"

namespace corvane::render {

namespace {
class SndfileOut : public WavOut {
  public:
    explicit SndfileOut(SNDFILE* file) : file_(file) {}
    ~SndfileOut() override {
        if (file_) sf_close(file_);
    }
    bool write(const float* interleaved, int64_t frames) override {
        return sf_writef_float(file_, interleaved, frames) == frames;
    }
    bool close() override {
        const bool ok = sf_close(file_) == 0;
        file_ = nullptr;
        return ok;
    }

  private:
    SNDFILE* file_;
};
}  // namespace

std::unique_ptr<WavOut> openWavOut(const std::string& path, int rate, SampleFormat format,
                                   std::string* error) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (format == SampleFormat::Float32 ? SF_FORMAT_FLOAT
                                   : format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                                   : SF_FORMAT_PCM_16);
    if (!sf_format_check(&info)) {
        *error = "libsndfile cannot write this format at this rate";
        return nullptr;
    }
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        *error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    // No PEAK chunk: it carries a time stamp.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return std::make_unique<SndfileOut>(file);
}

}  // namespace corvane::render

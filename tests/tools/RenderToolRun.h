#pragma once
// Running corvane-render as a user does, in a folder of its own, and reading what it wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::rendertest {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out, err;
};

inline std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class RenderTool : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-render-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Runs the tool in the test's folder with stdout and stderr captured.
    // `env` is put before the command (NAME=value ...).
    ToolRun run(const std::vector<std::string>& args, const std::string& env = "") {
        std::string cmd = "cd ";
        cmd += quote(dir.string());
        cmd += " && HOME=";  // third-party plug-ins keep their settings in the test's folder
        cmd += quote(dir.string());
        cmd += ' ';
        cmd += env;
        cmd += ' ';
        cmd += quote(CORVANE_RENDER_PATH);
        for (const std::string& a : args) {
            cmd += ' ';
            cmd += quote(a);
        }
        cmd += " >out.txt 2>err.txt </dev/null";
        ToolRun r;
        const int s = std::system(cmd.c_str());
        r.status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
        r.out = slurp(dir / "out.txt");
        r.err = slurp(dir / "err.txt");
        return r;
    }

    fs::path dir;
};

// A small WAV reader for the tool's output (float, 24- and 16-bit PCM), frames interleaved.
struct Wav {
    int channels = 0, rate = 0;
    std::vector<float> samples;
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

inline bool readWav(const fs::path& path, Wav& wav) {
    const std::string b = slurp(path);
    auto u32 = [&](size_t p) {
        uint32_t v;
        std::memcpy(&v, b.data() + p, 4);
        return v;
    };
    auto u16 = [&](size_t p) {
        uint16_t v;
        std::memcpy(&v, b.data() + p, 2);
        return v;
    };
    if (b.size() < 12 || b.compare(0, 4, "RIFF") || b.compare(8, 4, "WAVE")) return false;
    int format = 0, bits = 0;
    for (size_t p = 12; p + 8 <= b.size();) {
        const uint32_t n = u32(p + 4);
        if (p + 8 + n > b.size()) return false;
        if (!b.compare(p, 4, "fmt ")) {
            format = u16(p + 8);
            wav.channels = u16(p + 10);
            wav.rate = static_cast<int>(u32(p + 12));
            bits = u16(p + 22);
            if (format == 0xFFFE) format = u16(p + 32);  // extensible: the sub-format
        } else if (!b.compare(p, 4, "data")) {
            const unsigned char* d = reinterpret_cast<const unsigned char*>(b.data() + p + 8);
            const size_t bytes = bits / 8;
            for (size_t i = 0; i + bytes <= n; i += bytes) {
                if (format == 3 && bits == 32) {
                    float f;
                    std::memcpy(&f, d + i, 4);
                    wav.samples.push_back(f);
                } else if (format == 1 && bits == 16) {
                    wav.samples.push_back(int16_t(d[i] | d[i + 1] << 8) / 32768.0f);
                } else if (format == 1 && bits == 24) {
                    const int32_t v = (d[i] << 8 | d[i + 1] << 16 | d[i + 2] << 24) >> 8;
                    wav.samples.push_back(v / 8388608.0f);
                } else {
                    return false;
                }
            }
            return wav.channels > 0;
        }
        p += 8 + n + (n & 1);
    }
    return false;
}

inline float peakOf(const Wav& w, size_t from, size_t to) {
    float peak = 0.0f;
    for (size_t i = from * w.channels; i < std::min(to * w.channels, w.samples.size()); ++i)
        peak = std::max(peak, std::fabs(w.samples[i]));
    return peak;
}

// First frame in [from, to) whose louder channel reaches `level`.
inline long firstFrameAbove(const Wav& w, size_t from, size_t to, float level) {
    for (size_t f = from; f < std::min(to, w.frames()); ++f)
        for (int c = 0; c < w.channels; ++c)
            if (std::fabs(w.samples[f * w.channels + c]) >= level) return static_cast<long>(f);
    return -1;
}

inline void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const fs::path& path, const std::string& text) {
    writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// One line of text, ending in a newline, naming the tool.
inline void expectOneLineError(const ToolRun& r) {
    EXPECT_NE(r.status, 0);
    EXPECT_LT(r.status, 128) << "the tool crashed: " << r.err;
    EXPECT_EQ(r.err.rfind("corvane-render: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

}  // namespace corvane::rendertest

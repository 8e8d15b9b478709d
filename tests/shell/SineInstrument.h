#pragma once
// A looped sine instrument written to a temporary folder and put into a plug-in's current
// program by a program chunk, for tests that listen to Corvane.so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestHost.h"

namespace corvane::test {

class SineInstrument {
  public:
    static constexpr double kRate = 44100.0;
    static constexpr double kToneHz = 441.0;  // at its root key, 60

    SineInstrument() {
        namespace fs = std::filesystem;
        char name[160];
        std::snprintf(name, sizeof name, "corvane_sine_%d_%s", static_cast<int>(::getpid()),
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const auto wav = sineWav();
        std::ofstream(dir_ / "sine.wav", std::ios::binary)
            .write(reinterpret_cast<const char*>(wav.data()), static_cast<long>(wav.size()));
        std::ofstream(dir_ / "sine.sfz") << "<region>sample=sine.wav pitch_keycenter=60\n";
    }
    ~SineInstrument() { std::filesystem::remove_all(dir_); }

    // Writes the instrument's location into a program chunk's record.
    void placeInto(std::vector<uint8_t>& chunk) const {
        std::string folder = dir_.string() + "/";
        for (char& c : folder)
            if (c == '/') c = '\\';
        char* record = reinterpret_cast<char*>(chunk.data() + 40);
        std::snprintf(record + 11560, 1000, "%s", folder.c_str());
        std::snprintf(record + 12560, 220, "sine.sfz");
    }

  private:
    static void put16(std::vector<uint8_t>& b, uint32_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    static void put32(std::vector<uint8_t>& b, uint32_t v) {
        put16(b, v & 0xFFFF);
        put16(b, v >> 16);
    }
    static void tag(std::vector<uint8_t>& b, const char* t) {
        while (*t)
            b.push_back(static_cast<uint8_t>(*t++));
    }
    // Two seconds of a 16-bit mono sine.
    static std::vector<uint8_t> sineWav() {
        const int frames = 2 * 44100;
        std::vector<uint8_t> b;
        tag(b, "RIFF");
        put32(b, 36 + frames * 2);
        tag(b, "WAVEfmt ");
        put32(b, 16);
        put16(b, 1);
        put16(b, 1);
        put32(b, 44100);
        put32(b, 44100 * 2);
        put16(b, 2);
        put16(b, 16);
        tag(b, "data");
        put32(b, frames * 2);
        for (int i = 0; i < frames; ++i)
            put16(b,
                  uint16_t(int16_t(std::lround(16000 * std::sin(2 * M_PI * kToneHz * i / kRate)))));
        return b;
    }

    std::filesystem::path dir_;
};

}  // namespace corvane::test

// A program file carrying NaN in "FX Delay Rate-L" (and then in every slot) loads and
// renders finite audio with the delay running.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include "FakeHost.h"

namespace corvane::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Renders `blocks` blocks of 256 frames; true when every sample was finite.
bool rendersFinite(VstSynth& s, int blocks) {
    std::vector<float> l(256), r(256);
    float* out[2] = {l.data(), r.data()};
    for (int b = 0; b < blocks; ++b) {
        s.processReplacing(nullptr, out, 256);
        for (int i = 0; i < 256; ++i)
            if (!std::isfinite(l[i]) || !std::isfinite(r[i])) return false;
    }
    return true;
}

TEST(HostileFile, NaNInTheDelayRateOfAProgramFileDoesNotCrash) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("corvane_nan_" + std::to_string(::getpid()) + ".fxp");
    auto s = makeSynth();
    s->setSampleRate(44100.0f);
    s->setBlockSize(256);
    s->setParameter(117, 1.0f);  // "FX Delay On"
    s->setParameter(88, 1.0f);   // "FX Delay Amt"
    ASSERT_TRUE(s->saveProgramFile(path.c_str()));
    std::vector<char> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_EQ(bytes.size(), 60u + 12820u);
    auto slotAt = [&bytes](int slot) { return bytes.data() + 60 + 40 + 512 + 4 * slot; };
    auto writeFile = [&] {
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    };
    std::memcpy(slotAt(89), &kNaN, 4);
    writeFile();

    auto t = makeSynth();
    t->setSampleRate(44100.0f);
    t->setBlockSize(256);
    ASSERT_TRUE(t->loadProgramFile(path.c_str()));
    EXPECT_TRUE(std::isnan(t->getParameter(89)));  // the patch keeps what the file said
    EXPECT_TRUE(t->engine.rack.isOn(4));
    EXPECT_TRUE(rendersFinite(*t, 16));

    for (int slot = 0; slot < kStoredSlots; ++slot)
        if (slot != 117 && slot != 88) std::memcpy(slotAt(slot), &kNaN, 4);
    writeFile();
    ASSERT_TRUE(t->loadProgramFile(path.c_str()));
    EXPECT_TRUE(rendersFinite(*t, 16));
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace corvane::test

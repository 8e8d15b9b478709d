// A host that unmasks floating-point exceptions, rounds upwards and leaves denormals on
// still gets no trap from Corvane.so, and finds its own environment back after each call.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "TestHost.h"
#include "shell/SineInstrument.h"

using corvane::test::SineInstrument;
using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;

namespace {

constexpr int kBlock = 256;
constexpr int kTraps = FE_INEXACT | FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
constexpr unsigned kFlushBits = 0x8040;  // MXCSR flush-to-zero and denormals-are-zero

MidiMessage message(int status, int d1, int d2, int frame = 0) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}

// Exits 0 when every call went through without a trap and left the host's environment as
// it was; 2 or 3 when the environment came back changed; a trap kills the process.
void playWithTrapsUnmasked(const SineInstrument& sine) {
    // The host's own arithmetic stays outside the trapping stretch.
    float volumes[7];
    for (int i = 0; i < 7; ++i)
        volumes[i] = 0.3f + 0.01f * static_cast<float>(i);
    std::fesetround(FE_UPWARD);
    feenableexcept(kTraps);
    auto environmentIntact = [] {
        return std::fegetround() == FE_UPWARD && fegetexcept() == kTraps &&
               (_mm_getcsr() & kFlushBits) == 0;
    };

    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error);
    if (!p) std::_Exit(4);
    p->start(SineInstrument::kRate, kBlock);
    auto chunk = p->getChunk(true);
    sine.placeInto(chunk);
    if (p->setChunk(chunk.data(), chunk.size(), true) != 12820) std::_Exit(5);
    if (!environmentIntact()) std::_Exit(2);

    std::vector<float> l(kBlock), r(kBlock), all;
    p->setParameter(126, 1.0f);  // low-pass filter
    p->setParameter(28, 0.61f);  // cutoff
    p->setParameter(118, 1.0f);  // reverb on
    p->sendMidi({message(0x90, 60, 100, 0), message(0x90, 67, 77, 100), message(0xB0, 1, 33, 5),
                 message(0xE0, 11, 70, 9), message(0xD0, 50, 0, 20)});
    for (int b = 0; b < 40; ++b) {
        p->process(l.data(), r.data(), kBlock);
        if (b == 20)
            p->sendMidi({message(0x80, 60, 0, 17), message(0xB0, 74, 99, 30)});
        else
            p->sendMidi({});
        p->setParameter(74, volumes[b % 7]);
        (void)p->getParameter(74);
        (void)p->paramDisplay(28);
        all.insert(all.end(), l.begin(), l.end());
    }
    if (!environmentIntact()) std::_Exit(3);
    fedisableexcept(kTraps);
    std::fesetround(FE_TONEAREST);
    double energy = 0.0;
    for (float x : all)
        energy += double(x) * x;
    std::_Exit(std::isfinite(energy) && energy > 0.0 ? 0 : 6);
}

TEST(FpEnvironmentThroughSo, UnmaskedExceptionsNeverTrapInsideThePlugin) {
    SineInstrument sine;
    EXPECT_EXIT(playWithTrapsUnmasked(sine), ::testing::ExitedWithCode(0), "");
}

}  // namespace

// Two host threads write every slot with random and hostile values while a third renders
// 40 filtered voices through the effects, all through Corvane.so. Run under the address and
// thread sanitizers in CI. CORVANE_STRESS_SECONDS sets the length (3 s unless given).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "TestHost.h"
#include "shell/SineInstrument.h"

using corvane::test::SineInstrument;
using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;

namespace {

constexpr int kBlock = 256;
constexpr int kAllSlots = 364;
// Filter Type, Mono Mode, Poly, Arp On, the phaser, delay, reverb and distortion types and
// the delay rates.
constexpr int kStructural[] = {126, 127, 321, 115, 79, 85, 91, 97, 89, 90};

double stressSeconds() {
    const char* text = std::getenv("CORVANE_STRESS_SECONDS");
    const double s = text ? std::atof(text) : 0.0;
    return s > 0.0 ? s : 3.0;
}

float hostileValue(std::mt19937& rng) {
    static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(),
                                     std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(),
                                     -1.0f,
                                     2.0f,
                                     0.0f,
                                     1.0f};
    const unsigned pick = rng() % 8;
    if (pick == 0) return kSpecial[rng() % 7];
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
}

MidiMessage message(int status, int d1, int d2, int frame = 0) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}

TEST(ParameterStress, TwoWritersOfEverySlotBesideARenderingThread) {
    SineInstrument sine;
    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error);
    ASSERT_TRUE(p) << error;
    p->start(SineInstrument::kRate, kBlock);
    auto chunk = p->getChunk(true);
    sine.placeInto(chunk);
    ASSERT_EQ(p->setChunk(chunk.data(), chunk.size(), true), 12820);

    // 40 voices through the low-pass filter, every effect switched on.
    auto settle = [&] {
        p->setParameter(321, 1.0f);  // Poly: 40 voices
        p->setParameter(126, 1.0f);  // Filter Type: low-pass
        p->setParameter(127, 0.0f);  // Mono Mode off
        p->setParameter(115, 0.0f);  // Arp off
        for (int on = 116; on <= 121; ++on)
            p->setParameter(on, 1.0f);
    };
    settle();

    std::atomic<bool> stop{false};
    std::atomic<long> writes{0};
    auto writer = [&](unsigned seed) {
        std::mt19937 rng(seed);
        long n = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            // Any slot; a quarter of the writes go to the structural switches so that they
            // flip while voices play.
            const int slot = (rng() % 4 == 0) ? kStructural[rng() % std::size(kStructural)]
                                              : static_cast<int>(rng() % kAllSlots);
            p->setParameter(slot, hostileValue(rng));
            if (++n % 64 == 0) std::this_thread::yield();
        }
        writes += n;
    };

    long blocks = 0, nonFinite = 0;
    std::vector<float> l(kBlock), r(kBlock);
    std::thread a(writer, 1u), b(writer, 2u);
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(stressSeconds());
    std::mt19937 rng(3);
    while (std::chrono::steady_clock::now() < end) {
        // 40 new notes every few blocks (stealing into the tail ring), some releases and
        // controllers between.
        std::vector<MidiMessage> midi;
        if (blocks % 4 == 0)
            for (int k = 0; k < 40; ++k)
                midi.push_back(message(0x90, 30 + static_cast<int>(rng() % 60), 100, k * 6));
        if (blocks % 7 == 3)
            for (int k = 0; k < 10; ++k)
                midi.push_back(message(0x80, 30 + static_cast<int>(rng() % 60), 0, k * 20));
        midi.push_back(message(0xB0, 1, static_cast<int>(rng() % 128), 50));
        midi.push_back(
            message(0xE0, static_cast<int>(rng() % 128), static_cast<int>(rng() % 128), 70));
        p->sendMidi(midi);
        p->process(l.data(), r.data(), kBlock);
        for (int i = 0; i < kBlock; ++i)
            if (!std::isfinite(l[i]) || !std::isfinite(r[i])) ++nonFinite;
        ++blocks;
    }
    stop = true;
    a.join();
    b.join();

    EXPECT_GT(blocks, 10);
    EXPECT_GT(writes.load(), 1000);
    EXPECT_EQ(nonFinite, 0) << "of " << blocks << " blocks";

    // Afterwards 40 filtered voices still render finite audio.
    settle();
    p->setParameter(74, 0.5f);  // Volume
    p->setParameter(28, 1.0f);  // Filter Cutoff fully open
    p->setParameter(20, 1.0f);  // Amp sustain
    std::vector<MidiMessage> chord;
    for (int k = 0; k < 40; ++k)
        chord.push_back(message(0x90, 40 + k, 100));
    p->sendMidi(chord);
    double energy = 0.0;
    for (int block = 0; block < 20; ++block) {
        p->process(l.data(), r.data(), kBlock);
        p->sendMidi({});
        for (int i = 0; i < kBlock; ++i)
            energy += double(l[i]) * l[i] + double(r[i]) * r[i];
    }
    EXPECT_TRUE(std::isfinite(energy));
    std::printf("stress: %.1f s, %ld blocks, %ld parameter writes\n", stressSeconds(), blocks,
                writes.load());
}

}  // namespace

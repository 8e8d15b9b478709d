// corvane-demo: makes the bundled demo from nothing. It synthesises the samples (plucked
// tones, a bass, three drums) into WAV files, writes the SFZ instrument that maps them, a
// demo song as a Standard MIDI File, and a demo program (.fxp) with the filter, LFOs,
// modulation and effects set up, taken from the plug-in's own program chunk.
//
// usage: corvane-demo OUTDIR [PLUGIN.so]
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "FxFile.h"
#include "MidiFile.h"
#include "TestHost.h"

namespace fs = std::filesystem;

namespace {

// Uniform integers 0..32767: the high bits of a 32-bit linear congruential generator.
class NoiseSource {
  public:
    explicit NoiseSource(uint32_t seed) : engine_(seed) {}
    int next() { return static_cast<int>((engine_() >> 16) & 0x7FFF); }

  private:
    std::linear_congruential_engine<uint32_t, 1103515245u, 12345u, 0u> engine_;
};

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

double keyHz(int key) {
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

void normalise(std::vector<float>& s, float peak) {
    float m = 0.0f;
    for (float v : s)
        m = std::max(m, std::fabs(v));
    if (m > 0.0f)
        for (float& v : s)
            v *= peak / m;
}

// A short fade at the end so that no sample stops with a click.
void fadeOut(std::vector<float>& s, int frames) {
    const int n = static_cast<int>(s.size());
    for (int i = std::max(0, n - frames); i < n; ++i)
        s[i] *= float(n - i) / float(frames);
}

// Plucked string: a noise burst circulating in a delay line with a gentle low-pass.
std::vector<float> pluck(int key, double seconds, uint32_t seed) {
    NoiseSource random(seed);
    const double hz = keyHz(key);
    const double period = kRate / hz;
    const int length = static_cast<int>(period);
    const double frac = period - length;
    std::vector<double> line(static_cast<size_t>(length) + 2);
    for (double& v : line)
        v = random.next() / 16383.5 - 1.0;
    // Soften the burst once so the attack is less harsh.
    for (size_t i = line.size() - 1; i > 0; --i)
        line[i] = 0.5 * (line[i] + line[i - 1]);
    std::vector<float> out(static_cast<size_t>(seconds * kRate));
    const double decay = std::pow(0.001, 1.0 / (seconds * hz));  // -60 dB over the length
    size_t pos = 0;
    double previous = 0.0;
    const double allpass = (1.0 - frac) / (1.0 + frac);  // fractional delay tuning
    double apIn = 0.0, apOut = 0.0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double x = line[pos];
        const double averaged = decay * 0.5 * (x + previous);
        previous = x;
        apOut = allpass * (averaged - apOut) + apIn;
        apIn = averaged;
        line[pos] = apOut;
        pos = (pos + 1) % static_cast<size_t>(length);
        out[i] = static_cast<float>(x);
    }
    normalise(out, 0.8f);
    fadeOut(out, 2000);
    return out;
}

// Bass: a band-limited saw whose upper harmonics die away faster than the fundamental.
std::vector<float> bass(int key, double seconds) {
    const double hz = keyHz(key);
    std::vector<float> out(static_cast<size_t>(seconds * kRate));
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = double(i) / kRate;
        double v = 0.0;
        for (int k = 1; k <= 16 && k * hz < kRate / 2.5; ++k)
            v += std::sin(2.0 * kPi * k * hz * t) / k * std::exp(-t * (1.0 + 2.5 * k));
        const double attack = std::min(1.0, t / 0.004);
        out[i] = static_cast<float>(v * attack * std::exp(-t * 0.8));
    }
    normalise(out, 0.8f);
    fadeOut(out, 2000);
    return out;
}

std::vector<float> kick() {
    std::vector<float> out(static_cast<size_t>(0.5 * kRate));
    double phase = 0.0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = double(i) / kRate;
        const double hz = 45.0 + 110.0 * std::exp(-t * 30.0);
        phase += 2.0 * kPi * hz / kRate;
        out[i] = static_cast<float>(std::sin(phase) * std::exp(-t * 7.0));
    }
    normalise(out, 0.9f);
    fadeOut(out, 500);
    return out;
}

std::vector<float> snare(uint32_t seed) {
    NoiseSource random(seed);
    std::vector<float> out(static_cast<size_t>(0.35 * kRate));
    double low = 0.0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = double(i) / kRate;
        const double noise = random.next() / 16383.5 - 1.0;
        low += 0.35 * (noise - low);
        const double tone = std::sin(2.0 * kPi * 190.0 * t) * std::exp(-t * 25.0);
        out[i] = static_cast<float>(0.6 * tone + 0.7 * low * std::exp(-t * 14.0));
    }
    normalise(out, 0.8f);
    fadeOut(out, 500);
    return out;
}

std::vector<float> hat(uint32_t seed) {
    NoiseSource random(seed);
    std::vector<float> out(static_cast<size_t>(0.12 * kRate));
    double previous = 0.0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = double(i) / kRate;
        const double noise = random.next() / 16383.5 - 1.0;
        const double high = noise - previous;  // first difference: a bright, thin noise
        previous = noise;
        out[i] = static_cast<float>(high * std::exp(-t * 45.0));
    }
    normalise(out, 0.5f);
    fadeOut(out, 200);
    return out;
}

// A steady tone for the voice benchmark: 200 periods of 168 frames (262.5 Hz, close to C4),
// so that looping the whole sample is seamless.
constexpr int kSustainPeriod = 168;
constexpr int kSustainFrames = 200 * kSustainPeriod;
std::vector<float> sustainTone() {
    std::vector<float> out(kSustainFrames);
    for (int i = 0; i < kSustainFrames; ++i) {
        double v = 0.0;
        for (int k = 1; k <= 12; ++k)
            v += std::sin(2.0 * kPi * k * i / kSustainPeriod) / (k * k * 0.5 + 0.5);
        out[static_cast<size_t>(i)] = static_cast<float>(v);
    }
    normalise(out, 0.5f);
    return out;
}

bool writeWav(const fs::path& path, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "corvane-demo: cannot write %s: %s\n", path.c_str(),
                     sf_strerror(nullptr));
        return false;
    }
    const sf_count_t n = static_cast<sf_count_t>(samples.size());
    const bool ok = sf_writef_float(f, samples.data(), n) == n;
    return sf_close(f) == 0 && ok;
}

struct Zone {
    const char* file;
    int lo, hi, root;
    double volume;
};

// The instrument: bass below the drums' keys, the drums on the usual drum keys, and three
// plucked samples above, each stretched over its neighbourhood.
const Zone kZones[] = {
    {"samples/bass_g1.wav", 24, 35, 31, 0.0},   {"samples/kick.wav", 36, 36, 36, 0.0},
    {"samples/snare.wav", 38, 38, 38, -2.0},    {"samples/hat.wav", 42, 42, 42, -6.0},
    {"samples/pluck_c3.wav", 43, 54, 48, -3.0}, {"samples/pluck_c4.wav", 55, 66, 60, -3.0},
    {"samples/pluck_c5.wav", 67, 96, 72, -3.0},
};

std::string sfzText() {
    std::string s = "// Corvane demo instrument, made by corvane-demo\n";
    for (const Zone& z : kZones) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "<region> sample=%s lokey=%d hikey=%d pitch_keycenter=%d volume=%.1f\n",
                      z.file, z.lo, z.hi, z.root, z.volume);
        s += line;
    }
    return s;
}

// Eight bars in A minor (Am F C G twice), 16th-note plucks, an 8th-note bass, a plain beat;
// the second half is a little faster, so the song has a tempo change.
std::vector<uint8_t> song() {
    using corvane::render::MidiWriteEvent;
    const int q = 480;  // ticks per quarter
    std::vector<MidiWriteEvent> ev;
    auto note = [&](int channel, uint64_t tick, int key, int velocity, uint64_t length) {
        ev.push_back({tick, static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key),
                      static_cast<uint8_t>(velocity)});
        ev.push_back(
            {tick + length, static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 64});
    };
    const int chords[4][4] = {
        {57, 60, 64, 69}, {53, 57, 60, 65}, {55, 60, 64, 67}, {55, 59, 62, 67}};
    const int bassKeys[4] = {33, 29, 24, 31};
    const int arp[8] = {0, 1, 2, 3, 2, 1, 3, 2};
    for (int bar = 0; bar < 8; ++bar) {
        const uint64_t start = static_cast<uint64_t>(bar) * 4 * q;
        const int c = bar % 4;
        for (int step = 0; step < 16; ++step) {
            const uint64_t t = start + static_cast<uint64_t>(step) * q / 4;
            const int key = chords[c][arp[step % 8]] + (step >= 8 && bar >= 4 ? 12 : 0);
            note(0, t, key, 70 + (step % 4 == 0 ? 30 : 0) - (step % 2) * 10, q / 4);
        }
        for (int e = 0; e < 8; ++e) {
            const uint64_t t = start + static_cast<uint64_t>(e) * q / 2;
            note(1, t, bassKeys[c] + (e == 7 ? 7 : 0), e % 2 ? 80 : 110, q / 2 - 40);
        }
        for (int beat = 0; beat < 4; ++beat) {
            const uint64_t t = start + static_cast<uint64_t>(beat) * q;
            note(9, t, beat % 2 ? 38 : 36, 115, q / 4);
            note(9, t + q / 2, 42, 70, q / 8);
            note(9, t, 42, 90, q / 8);
        }
    }
    note(0, 8u * 4 * q, 45, 110, 2 * q);  // final note
    note(1, 8u * 4 * q, 33, 110, 2 * q);
    note(9, 8u * 4 * q, 36, 120, q / 4);
    return corvane::render::buildMidiFile(q, {{0, 108.0}, {16u * q, 116.0}}, ev);
}

// Chords held a bar each for the arpeggiator: A minor, F, C and G twice, then A minor; the
// arpeggiator makes the notes of the phrase from them.
std::vector<uint8_t> arpPhrase() {
    const int q = 480;
    std::vector<corvane::render::MidiWriteEvent> ev;
    const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};
    for (int bar = 0; bar < 9; ++bar) {
        const uint64_t start = static_cast<uint64_t>(bar) * 4 * q;
        const uint64_t length = bar == 8 ? 2 * q : 4 * q - 10;  // lifted just before the next
        for (int key : chords[bar % 4]) {
            ev.push_back({start, 0x90, static_cast<uint8_t>(key), 100});
            ev.push_back({start + length, 0x80, static_cast<uint8_t>(key), 64});
        }
    }
    return corvane::render::buildMidiFile(q, {{0, 112.0}}, ev);
}

// Forty notes held for 20 seconds (40 quarters at 120 BPM): every playing voice busy.
std::vector<uint8_t> fortyVoices() {
    const int q = 480;
    std::vector<corvane::render::MidiWriteEvent> ev;
    for (int key = 40; key < 80; ++key) {
        ev.push_back({0, 0x90, static_cast<uint8_t>(key), 100});
        ev.push_back({40u * q, 0x80, static_cast<uint8_t>(key), 0});
    }
    return corvane::render::buildMidiFile(q, {{0, 120.0}}, ev);
}

// Slot values of the demo program on top of the plug-in's init patch. Switches and
// modulation matrix rows live in stored slots beyond the host parameters.
struct SlotValue {
    int slot;
    float value;
};
const SlotValue kDemoSlots[] = {
    {21, 0.45f},   // Amp Release
    {22, 0.0f},    // Filter Attack
    {23, 0.42f},   // Filter Decay
    {24, 0.35f},   // Filter Sustain
    {28, 0.62f},   // Filter Cutoff
    {29, 0.35f},   // Filter Resonance
    {30, 0.65f},   // Filter Env Amt
    {126, 1.0f},   // Filter Type: low-pass (the init patch leaves the filter off)
    {34, 0.35f},   // LFO 1 Rate
    {43, 0.2f},    // LFO 2 Rate
    {52, 0.55f},   // LFO 3 Rate
    {79, 0.85f},   // FX Phaser Type: Chorus I
    {83, 0.5f},    // FX Phaser Amt
    {88, 0.3f},    // FX Delay Amt
    {94, 0.3f},    // FX Reverb Amt
    {116, 1.0f},   // FX Phaser On
    {117, 1.0f},   // FX Delay On
    {118, 1.0f},   // FX Reverb On
    {129, 13.0f},  // matrix row 2: LFO 1 ...
    {161, 0.7f},   // ... amount +0.4 ...
    {193, 5.0f},   // ... to Filter Cutoff
    {130, 14.0f},  // row 3: LFO 2 ...
    {162, 0.65f},  // ... amount +0.3 ...
    {194, 4.0f},   // ... to Pan
    {131, 15.0f},  // row 4: LFO 3 ...
    {163, 0.53f},  // ... amount +0.06 ...
    {195, 2.0f},   // ... to Pitch Fine
    {321, 1.0f},   // Poly: all 40 voices
};
const SlotValue kSustainSlots[] = {
    {321, 1.0f},  // Poly: all 40 voices
};

// The arpeggiated demo: the demo program's sound with the arpeggiator on in "Mode: Dynamic",
// 16 steps of 1/16 that climb through the held chord and its upper octave and back, the
// second lane picking the chord member (16/128 per member), a rest before the turn, a little
// swing.
std::vector<SlotValue> arpDemoSlots() {
    std::vector<SlotValue> slots(std::begin(kDemoSlots), std::end(kDemoSlots));
    const int octave[16] = {0, 0, 0, 12, 12, 12, 24, -1, 12, 12, 12, 0, 0, 0, 12, -1};
    const int member[16] = {0, 1, 2, 0, 1, 2, 0, 0, 2, 1, 0, 2, 1, 0, 0, 0};
    for (int s = 0; s < 32; ++s) {
        const int k = s % 16;
        slots.push_back({256 + s, octave[k] < 0 ? 0.0f : (octave[k] + 1.5f) / 128.0f});
        slots.push_back({288 + s, (16.0f * member[k] + 0.5f) / 128.0f});
    }
    slots.push_back({115, 1.0f});                 // Arp On
    slots.push_back({125, 5.0f});                 // Mode: Dynamic
    slots.push_back({320, 15.5f / 31.0f});        // 16 steps
    slots.push_back({114, 1.0f});                 // synced ...
    slots.push_back({71, 10.5f / 20.01f});        // ... in 1/16 notes
    slots.push_back({72, (-6 + 31.5f) / 62.0f});  // rests 6 ticks early
    slots.push_back({73, 0.58f});                 // swing
    slots.push_back({21, 0.3f});                  // a shorter release for the runs
    // The filter stays off here: its sweeps would make some steps of the run much quieter
    // than others.
    slots.push_back({126, 0.0f});
    return slots;
}

// A program file: the plug-in's own program chunk (init patch), with the given slot values,
// name and instrument written into its patch record.
bool writeProgram(const std::string& pluginPath, const fs::path& dir, const char* name,
                  const std::vector<SlotValue>& slots, const char* instrument,
                  const char* fxpName) {
    std::string error;
    auto plugin = corvane::testhost::Plugin::load(pluginPath, &error);
    if (!plugin) {
        std::fprintf(stderr, "corvane-demo: %s\n", error.c_str());
        return false;
    }
    plugin->start(kRate, 512);
    std::vector<uint8_t> chunk = plugin->getChunk(true);
    constexpr size_t kRecord = 40, kSlots = kRecord + 512, kFolder = kRecord + 11560,
                     kFile = kRecord + 12560, kSize = kRecord + 12780;
    if (chunk.size() != kSize) {
        std::fprintf(stderr, "corvane-demo: the plug-in gave no program chunk; no %s\n", fxpName);
        return true;  // the demo still renders from the SFZ alone
    }
    for (const SlotValue& s : slots)
        std::memcpy(&chunk[kSlots + 4 * s.slot], &s.value, 4);
    std::memset(&chunk[kRecord], 0, 32);
    std::memcpy(&chunk[kRecord], name, std::min<size_t>(std::strlen(name), 31));
    std::string folder = fs::absolute(dir).lexically_normal().string();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    std::memset(&chunk[kFolder], 0, 1000);
    std::memcpy(&chunk[kFolder], folder.data(), std::min<size_t>(folder.size(), 253));
    std::memset(&chunk[kFile], 0, 220);
    std::memcpy(&chunk[kFile], instrument, std::strlen(instrument));
    const auto bytes = corvane::render::buildProgramFile(
        plugin->effect()->uniqueID, plugin->effect()->version, 337, name, chunk);
    if (!corvane::render::writeWholeFile((dir / fxpName).string(), bytes, error)) {
        std::fprintf(stderr, "corvane-demo: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: corvane-demo OUTDIR [PLUGIN.so]\n");
        return 2;
    }
    const fs::path dir = argv[1];
    std::error_code ec;
    fs::create_directories(dir / "samples", ec);
    if (ec) {
        std::fprintf(stderr, "corvane-demo: cannot create %s: %s\n", dir.c_str(),
                     ec.message().c_str());
        return 1;
    }
    bool ok = writeWav(dir / "samples/pluck_c3.wav", pluck(48, 2.0, 101)) &&
              writeWav(dir / "samples/pluck_c4.wav", pluck(60, 1.6, 202)) &&
              writeWav(dir / "samples/pluck_c5.wav", pluck(72, 1.2, 303)) &&
              writeWav(dir / "samples/bass_g1.wav", bass(31, 1.5)) &&
              writeWav(dir / "samples/kick.wav", kick()) &&
              writeWav(dir / "samples/snare.wav", snare(404)) &&
              writeWav(dir / "samples/hat.wav", hat(505)) &&
              writeWav(dir / "samples/sustain_c4.wav", sustainTone());
    std::string error;
    const std::string sfz = sfzText();
    char sustain[200];
    std::snprintf(sustain, sizeof sustain,
                  "// Steady looped tone for the voice benchmark\n<region> sample=samples/"
                  "sustain_c4.wav pitch_keycenter=60 volume=-20 loopstart=0 loopend=%d "
                  "loopmode=loop_continuous\n",
                  kSustainFrames - 1);
    const std::string sustainSfz = sustain;
    ok = ok &&
         corvane::render::writeWholeFile((dir / "demo.sfz").string(),
                                         std::vector<uint8_t>(sfz.begin(), sfz.end()), error) &&
         corvane::render::writeWholeFile((dir / "demo.mid").string(), song(), error) &&
         corvane::render::writeWholeFile((dir / "sustain.sfz").string(),
                                         std::vector<uint8_t>(sustainSfz.begin(), sustainSfz.end()),
                                         error) &&
         corvane::render::writeWholeFile((dir / "voices40.mid").string(), fortyVoices(), error) &&
         corvane::render::writeWholeFile((dir / "arp.mid").string(), arpPhrase(), error);
    if (!error.empty()) std::fprintf(stderr, "corvane-demo: %s\n", error.c_str());
    auto all = [](const auto& slots) {
        return std::vector<SlotValue>(std::begin(slots), std::end(slots));
    };
    if (ok && argc == 3)
        ok =
            writeProgram(argv[2], dir, "Demo Pluck Kit", all(kDemoSlots), "demo.sfz", "demo.fxp") &&
            writeProgram(argv[2], dir, "Forty Voices", all(kSustainSlots), "sustain.sfz",
                         "sustain.fxp") &&
            writeProgram(argv[2], dir, "Demo Arpeggio", arpDemoSlots(), "demo.sfz", "arp.fxp");
    return ok ? 0 : 1;
}

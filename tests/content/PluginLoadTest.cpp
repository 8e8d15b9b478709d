// Loading through the plug-in object while its audio thread renders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "content/ContentTestUtil.h"
#include "shell/VstSynth.h"

namespace corvane {
namespace {

using test::Bytes;

intptr_t quietHost(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

constexpr const char* kKit = "<region>sample=a.wav lokey=36 hikey=39\r\n";

Bytes tone(int frames) {
    std::vector<int16_t> s(frames);
    for (int i = 0; i < frames; ++i)
        s[i] = int16_t(i % 2 ? 12000 : -12000);
    return test::riff({test::fmtChunk(1, 1, 44100, 16), test::chunk("data", test::pcm16(s))});
}

std::unique_ptr<VstSynth> makeSynth() {
    auto synth = std::make_unique<VstSynth>(&quietHost);
    synth->setSampleRate(44100.0f);
    synth->setBlockSize(64);
    return synth;
}

void setProgramFile(VstSynth& s, int program, const std::string& folder, const char* file) {
    std::strcpy(s.engine.patches[program].sampleFolder, folder.c_str());
    std::strcpy(s.engine.patches[program].sampleFile, file);
}

template <class Pred>
bool waitFor(Pred pred, int ms) {
    for (int i = 0; i < ms && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

TEST(PluginLoad, BlockDuringALoadIsSilentAndKeepsEditorNotes) {
    test::TempDir dir;
    dir.write("Kit/a.wav", tone(4000));
    // The instrument file is a pipe: the load stays in progress until the test writes it.
    const auto fifo = dir.path() / "Kit" / "kit.sfz";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto synth = makeSynth();
    setProgramFile(*synth, 1, test::stored(dir.path() / "Kit") + "\\", "kit.sfz");

    std::thread loader([&] { synth->setProgram(1); });
    ASSERT_TRUE(waitFor([&] { return synth->engine.loading.load() == 1; }, 5000));
    synth->queueGuiNote(0x90, 36, 100);
    std::vector<float> l(64, 1.0f), r(64, 1.0f);
    float* out[2] = {l.data(), r.data()};
    for (int block = 0; block < 3; ++block) {
        synth->processReplacing(nullptr, out, 64);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(l[i] == 0.0f && r[i] == 0.0f, true) << i;
    }
    EXPECT_EQ(synth->guiQueueWrite, 1);  // the editor's note is still waiting

    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, kKit, std::strlen(kKit)), ssize_t(std::strlen(kKit)));
    ::close(fd);
    loader.join();
    EXPECT_EQ(synth->engine.loading.load(), 0);
    ASSERT_EQ(synth->engine.map.zoneCount, 1);
    EXPECT_EQ(synth->engine.map.zones[0].frameCount, 4000);

    synth->processReplacing(nullptr, out, 64);
    EXPECT_EQ(synth->guiQueueWrite, 0);  // taken by the first block after the load
    double energy = 0.0;
    for (int i = 0; i < 64; ++i)
        energy += double(l[i]) * l[i] + double(r[i]) * r[i];
    EXPECT_GT(energy, 0.0);  // and it sounds
}

TEST(PluginLoad, ProgramSwitchesWhileRenderingNeitherCrashNorDeadlock) {
    test::TempDir dir;
    dir.write("A/a.wav", tone(3000));
    dir.write("A/kit.sfz", std::string(kKit));
    dir.write("B/a.wav", tone(500));
    dir.write("B/kit.sfz", std::string("<region>sample=a.wav\r\n<region>sample=a.wav lokey=50"));
    auto synth = makeSynth();
    setProgramFile(*synth, 0, test::stored(dir.path() / "A") + "\\", "kit.sfz");
    setProgramFile(*synth, 1, test::stored(dir.path() / "B") + "\\", "kit.sfz");
    // program 2 has no instrument

    std::atomic<bool> stop{false};
    std::atomic<int> switches{0}, blocks{0};
    std::atomic<bool> loaderDone{false}, audioDone{false};
    std::thread audio([&] {
        std::vector<float> l(64), r(64);
        float* out[2] = {l.data(), r.data()};
        for (int n = 0; !stop.load(); ++n) {
            synth->appendNote(0x90, 36 + n % 20, n % 64, 100);
            synth->appendNote(0x80, 36 + (n + 10) % 20, 63, 0);
            synth->processReplacing(nullptr, out, 64);
            blocks.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        audioDone = true;
    });
    std::thread control([&] {
        for (int n = 0; !stop.load(); ++n) {
            synth->setProgram(n % 3);
            switches.fetch_add(1);
        }
        loaderDone = true;
    });
    std::this_thread::sleep_for(std::chrono::seconds(3));
    stop = true;
    if (!waitFor([&] { return loaderDone.load() && audioDone.load(); }, 20000)) {
        ADD_FAILURE() << "threads still running 20 s after the stop: deadlock";
        std::abort();
    }
    audio.join();
    control.join();
    EXPECT_GT(switches.load(), 30);
    EXPECT_GT(blocks.load(), 300);
    // The map holds the instrument of the last program switched to.
    const int last = synth->engine.currentProgram;
    EXPECT_EQ(synth->engine.map.zoneCount, last == 0 ? 1 : last == 1 ? 2 : 0);
    EXPECT_EQ(synth->engine.loading.load(), 0);
}

}  // namespace
}  // namespace corvane

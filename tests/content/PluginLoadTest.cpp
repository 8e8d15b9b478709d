// Loading through the plug-in object while its audio thread renders.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "content/ContentTestUtil.h"
#include "content/PluginLoadSupport.h"
#include "shell/VstSynth.h"

namespace corvane {
namespace {

using namespace pluginload;

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

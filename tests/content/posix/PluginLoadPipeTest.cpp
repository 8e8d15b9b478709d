// Loading through the plug-in object while the instrument file is a pipe that the test
// fills: the load stays in progress for as long as the test wants.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "content/PluginLoadSupport.h"

namespace corvane {
namespace {

using namespace pluginload;

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

}  // namespace
}  // namespace corvane

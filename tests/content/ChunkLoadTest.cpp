// Instruments named by program chunks, as a host restores them through Corvane.so.
#include <gtest/gtest.h>

#include <cstring>

#include "TestHost.h"
#include "content/ContentTestUtil.h"

namespace corvane {
namespace {

using test::Bytes;
using testhost::Plugin;

constexpr size_t kFolderAt = 40 + 11560;
constexpr size_t kFileAt = 40 + 12560;

Bytes tone(int16_t level) {
    std::vector<int16_t> s(20000);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(i % 50 < 25 ? level : -level);
    return test::riff({test::fmtChunk(1, 1, 44100, 16), test::chunk("data", test::pcm16(s))});
}

void writeKit(const test::TempDir& dir, const std::string& folder, int16_t level = 8000) {
    dir.write(folder + "/kit.sfz", std::string("<region>sample=Samples/a.wav\r\n"));
    dir.write(folder + "/Samples/a.wav", tone(level));
}

struct Host {
    std::unique_ptr<Plugin> plugin;
    Host() {
        std::string error;
        plugin = Plugin::load(CORVANE_SO_PATH, &error);
        EXPECT_TRUE(plugin) << error;
        if (plugin) plugin->start(44100.0, 256);
    }
    // The current program's chunk with the instrument location replaced.
    std::vector<uint8_t> programChunk(const std::string& folder, const std::string& file) {
        std::vector<uint8_t> chunk = plugin->getChunk(true);
        EXPECT_EQ(chunk.size(), 12820u);
        chunk.resize(12820);
        std::memset(chunk.data() + kFolderAt, 0, 1000);
        std::memset(chunk.data() + kFileAt, 0, 220);
        std::memcpy(chunk.data() + kFolderAt, folder.data(), folder.size());
        std::memcpy(chunk.data() + kFileAt, file.data(), file.size());
        return chunk;
    }
    void restore(const std::vector<uint8_t>& chunk) {
        EXPECT_EQ(plugin->setChunk(chunk.data(), chunk.size(), true), 12820);
    }
    // Energy of a held middle C.
    double play() {
        std::vector<float> l, r;
        plugin->render(4096, 256, {{0, {0x90, 60, 100}}}, l, r);
        plugin->render(256, 256, {{0, {0x80, 60, 0}}}, l, r);
        return testhost::energy(l) + testhost::energy(r);
    }
};

std::string folderOf(const test::TempDir& dir, const std::string& relative) {
    return test::stored(dir.path() / relative) + "\\";
}

TEST(ChunkLoad, ProgramChunkLoadsItsInstrumentAndReloadsTheSameName) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Host h;
    ASSERT_TRUE(h.plugin);
    const auto chunk = h.programChunk(folderOf(dir, "Kits"), "kit.sfz");
    h.restore(chunk);
    EXPECT_GT(h.play(), 0.0);
    // The same chunk again reads the files again: now they hold silence.
    writeKit(dir, "Kits", 0);
    h.restore(chunk);
    EXPECT_EQ(h.play(), 0.0);
}

TEST(ChunkLoad, MovedInstrumentIsStillFound) {
    for (const char* where : {"Kits", "Kits/New"}) {
        SCOPED_TRACE(where);
        test::TempDir dir;
        writeKit(dir, where);
        Host h;
        ASSERT_TRUE(h.plugin);
        h.restore(h.programChunk(folderOf(dir, "Kits/Old"), "kit.sfz"));
        EXPECT_GT(h.play(), 0.0);
    }
}

TEST(ChunkLoad, InstrumentNowhereSaysSoOnStderrAndStaysSilent) {
    test::TempDir dir;
    Host h;
    ASSERT_TRUE(h.plugin);
    const auto chunk = h.programChunk(folderOf(dir, "Lost/Kits"), "lost.sfz");
    testing::internal::CaptureStderr();
    h.restore(chunk);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: File not found (lost.sfz)\n"), std::string::npos) << err;
    EXPECT_EQ(h.play(), 0.0);
}

TEST(ChunkLoad, SwitchingToAProgramWithoutInstrumentSilencesIt) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Host h;
    ASSERT_TRUE(h.plugin);
    h.restore(h.programChunk(folderOf(dir, "Kits"), "kit.sfz"));
    EXPECT_GT(h.play(), 0.0);
    h.plugin->setProgram(1);
    EXPECT_EQ(h.play(), 0.0);
    h.plugin->setProgram(0);
    EXPECT_GT(h.play(), 0.0);
}

}  // namespace
}  // namespace corvane

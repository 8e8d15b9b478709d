#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "content/ContentTestUtil.h"
#include "content/Loader.h"
#include "content/RexImport.h"
#include "engine/Harrow.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

constexpr const char* kKit =
    "<region>sample=Samples/a.wav lokey=36 hikey=39\r\n<region>sample=Samples\\b.wav lokey=40\r\n";

Bytes wav16(std::vector<int16_t> samples) {
    return test::riff({test::fmtChunk(1, 1, 44100, 16), test::chunk("data", test::pcm16(samples))});
}

// A kit (kit.sfz and its two samples) written into `folder` below the scratch folder.
void writeKit(const test::TempDir& dir, const std::string& folder, const char* text = kKit) {
    const std::string base = folder.empty() ? "" : folder + "/";
    dir.write(base + "kit.sfz", std::string(text));
    dir.write(base + "Samples/a.wav", wav16({32767, 0, -16384}));
    dir.write(base + "Samples/b.wav", wav16({100, 200}));
}

void setProgramFile(Harrow& h, int program, const std::string& folder, const std::string& file) {
    std::strcpy(h.patches[program].sampleFolder, folder.c_str());
    std::strcpy(h.patches[program].sampleFile, file.c_str());
}

std::string folderOf(const test::TempDir& dir, const std::string& relative) {
    return test::stored(dir.path() / relative) + "\\";
}

// The kit as written by writeKit is in the map.
void expectKit(const Harrow& h) {
    ASSERT_EQ(h.map.zoneCount, 2);
    const SampleZone& a = h.map.zones[0];
    ASSERT_NE(a.data, nullptr);
    EXPECT_EQ(a.frameCount, 3);
    EXPECT_EQ(a.data[0], 1.0f);
    EXPECT_NEAR(a.data[2], -16384 / 32767.0, 1e-7);
    EXPECT_EQ(a.loKey, 36);
    ASSERT_NE(h.map.zones[1].data, nullptr);
    EXPECT_EQ(h.map.zones[1].frameCount, 2);
    EXPECT_EQ(h.loading.load(), 0);
}

TEST(Loader, ProgramSwitchLoadsTheStoredInstrument) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Harrow h;
    setProgramFile(h, 3, folderOf(dir, "Kits"), "kit.sfz");
    h.selectProgram(3);
    EXPECT_EQ(h.currentProgram, 3);
    expectKit(h);
    EXPECT_STREQ(h.map.sampleDirectory, folderOf(dir, "Kits").c_str());
    EXPECT_EQ(h.map.keyMap[36 - 24], 1);
    EXPECT_EQ(h.map.keyMap[35 - 24], 0);
}

TEST(Loader, MovedInstrumentIsFoundNearItsOldFolder) {
    struct Case {
        const char* where;
        const char* found;
    } cases[] = {
        {"Kits", "Kits"},          // one level up
        {"Kits/New", "Kits/New"},  // a sibling of the old folder
        {"", ""},                  // two levels up
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        test::TempDir dir;
        writeKit(dir, c.where);
        // A decoy in a hidden sibling folder is never looked at.
        dir.write("Kits/.hidden/kit.sfz", std::string("<region>"));
        Harrow h;
        const std::string stale = folderOf(dir, "Kits/Old");
        setProgramFile(h, 0, stale, "kit.sfz");
        h.selectProgram(0);
        expectKit(h);
        const std::string found =
            *c.found ? folderOf(dir, c.found) : test::stored(dir.path()) + "\\";
        EXPECT_STREQ(h.map.sampleDirectory, found.c_str());
        EXPECT_STREQ(h.patches[0].sampleFolder, stale.c_str());  // the search repeats
    }
}

TEST(Loader, InstrumentFoundNowhereReportsAndLeavesTheMapEmpty) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Harrow h;
    setProgramFile(h, 1, folderOf(dir, "Kits"), "kit.sfz");
    setProgramFile(h, 2, folderOf(dir, "Other/Deep"), "lost.sfz");
    h.selectProgram(1);
    test::MessageCapture messages;
    h.selectProgram(2);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, "Error");
    EXPECT_EQ(messages.messages[0].text, "File not found (lost.sfz)");
    EXPECT_EQ(h.map.zoneCount, 0);
    EXPECT_EQ(h.loading.load(), 0);
    EXPECT_STREQ(h.patches[2].sampleFile, "lost.sfz");
}

TEST(Loader, ProgramWithoutInstrumentEmptiesTheMap) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Harrow h;
    setProgramFile(h, 5, folderOf(dir, "Kits"), "kit.sfz");
    h.selectProgram(5);
    expectKit(h);
    h.selectProgram(6);
    EXPECT_EQ(h.map.zoneCount, 0);
    EXPECT_EQ(h.map.zones, nullptr);
}

TEST(Loader, RestoreThatRemovesTheCurrentInstrumentEmptiesTheMap) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Harrow h;
    setProgramFile(h, 0, folderOf(dir, "Kits"), "kit.sfz");
    h.selectProgram(0);
    expectKit(h);
    // A restore overwrites the current record with one that names no instrument.
    h.patches[0].sampleFile[0] = 0;
    h.forceReload = 1;
    h.selectProgram(0);
    EXPECT_EQ(h.map.zoneCount, 0);
    EXPECT_EQ(h.forceReload, 0);
}

TEST(Loader, SameProgramReloadsOnlyWhenForcedOrEmpty) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Harrow h;
    setProgramFile(h, 0, folderOf(dir, "Kits"), "kit.sfz");
    setProgramFile(h, 1, folderOf(dir, "Kits"), "kit.sfz");
    h.selectProgram(0);
    fs::remove(dir.path() / "Kits/kit.sfz");
    test::MessageCapture messages;
    h.selectProgram(0);  // nothing happens: the file is not even looked for
    EXPECT_EQ(h.map.zoneCount, 2);
    EXPECT_TRUE(messages.messages.empty());
    h.selectProgram(1);  // another program with the same file reloads it
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(h.map.zoneCount, 0);
    writeKit(dir, "Kits");
    h.selectProgram(1);  // the map is empty: the same program loads again
    expectKit(h);
    fs::remove(dir.path() / "Kits/kit.sfz");
    h.forceReload = 1;
    h.selectProgram(1);
    EXPECT_EQ(messages.messages.size(), 2u);
}

TEST(Loader, LoadFromPathStoresTheFileInTheCurrentProgram) {
    test::TempDir dir;
    writeKit(dir, "My Kits");
    Harrow h;
    h.selectProgram(9);
    const std::string path = (dir.path() / "My Kits/kit.sfz").generic_string();  // '/' separators
    h.loadFromPath(path.c_str());
    expectKit(h);
    EXPECT_STREQ(h.patches[9].sampleFolder, folderOf(dir, "My Kits").c_str());
    EXPECT_STREQ(h.patches[9].sampleFile, "kit.sfz");
    h.loadFromPath(path.c_str());  // the same file again reloads it
    expectKit(h);
    h.loadFromPath("");
    EXPECT_EQ(h.map.zoneCount, 0);
}

TEST(Loader, ProgramWithoutFolderTakesTheNameAsFullPath) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Harrow h;
    const std::string full = test::stored(dir.path() / "Kits/kit.sfz");
    setProgramFile(h, 4, "", full);
    h.selectProgram(4);
    expectKit(h);
    EXPECT_STREQ(h.map.sampleDirectory, folderOf(dir, "Kits").c_str());
    EXPECT_STREQ(h.patches[4].sampleFolder, folderOf(dir, "Kits").c_str());
    EXPECT_STREQ(h.patches[4].sampleFile, "kit.sfz");
}

TEST(Loader, ReaderIsChosenByTheNameAnywhereInIt) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    dir.write("Kits/Kit.rx2", Bytes(64, 1));
    dir.write("Kits/Kit.sfz.txt", std::string(kKit));
    dir.write("Kits/Kit.wav", wav16({1, 2, 3}));
    Harrow h;
    test::MessageCapture messages;
    h.loadFromPath(test::stored(dir.path() / "Kits/Kit.rx2").c_str());
    EXPECT_EQ(h.map.zoneCount, 0);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, "REX Error");
    EXPECT_EQ(messages.messages[0].text,
              "The REX DLL could not be found. Maybe REX is not installed on this system?");
    h.loadFromPath(test::stored(dir.path() / "Kits/Kit.sfz.txt").c_str());
    expectKit(h);
    h.loadFromPath(test::stored(dir.path() / "Kits/Kit.wav").c_str());
    EXPECT_EQ(h.map.zoneCount, 0);
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_STREQ(rexErrorText(666), rexErrorText(50));
}

TEST(Loader, BankFolderRedirectsTheRestoredPrograms) {
    test::TempDir dir;
    writeKit(dir, "Banks/Drums");
    Harrow h;
    h.setBankFolder(test::stored(dir.path() / "Banks/Drums.fxb").c_str());
    EXPECT_EQ(h.bankFolderSet, 1);
    const std::string bankFolder = folderOf(dir, "Banks/Drums");
    EXPECT_STREQ(h.map.sampleDirectory, bankFolder.c_str());
    // As restored from the bank file: three records copied.
    setProgramFile(h, 0, "C:\\Old\\Place\\", "kit.sfz");
    setProgramFile(h, 1, "C:\\Old\\Place\\", "");
    setProgramFile(h, 2, "", "E:\\Elsewhere\\kit.sfz");
    setProgramFile(h, 3, "C:\\Old\\Place\\", "kit.sfz");
    h.applyBankFolder(3);
    EXPECT_EQ(h.bankFolderSet, 0);
    EXPECT_STREQ(h.patches[0].sampleFolder, bankFolder.c_str());
    EXPECT_STREQ(h.patches[1].sampleFolder, "C:\\Old\\Place\\");
    EXPECT_STREQ(h.patches[2].sampleFolder, bankFolder.c_str());
    EXPECT_STREQ(h.patches[2].sampleFile, "kit.sfz");
    EXPECT_STREQ(h.patches[3].sampleFolder, "C:\\Old\\Place\\");  // not part of the bank
    h.applyBankFolder(4);  // lowered: nothing more is rewritten
    EXPECT_STREQ(h.patches[3].sampleFolder, "C:\\Old\\Place\\");
    h.forceReload = 1;
    h.selectProgram(2);
    expectKit(h);
}

TEST(Loader, DisplayNameIsTheFileNamePart) {
    EXPECT_EQ(displayName("C:\\Sounds\\My Lead.fxp", false, 32), "My Lead");
    EXPECT_EQ(displayName("C:\\Sounds\\My Lead.fxp", true, 32), "My Lead.fxp");
    EXPECT_EQ(displayName("/home/me/kit.v2.sfz", false, 0), "kit.v2");
    EXPECT_EQ(displayName("kit.sfz", true, 4), "kit");
    EXPECT_EQ(displayName("kit.sfz", true, 1), "kit.sfz");
    EXPECT_EQ(displayName("", true, 32), "---");
}

TEST(Loader, LoadWaitsForTheBlockInProgressAndKeepsTheAudioThreadOut) {
    test::TempDir dir;
    writeKit(dir, "Kits");
    Harrow h;
    setProgramFile(h, 7, folderOf(dir, "Kits"), "kit.sfz");
    h.renderBusy.store(1);  // a block is rendering
    std::atomic<bool> done{false};
    std::thread loader([&] {
        h.selectProgram(7);
        done = true;
    });
    // The loader announces itself, then waits for the block however long it takes. (A
    // fixed delay before looking would fail whenever the thread starts late, as it can on
    // a busy machine.)
    for (int i = 0; i < 5000 && h.loading.load() != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(h.loading.load(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(done.load());
    EXPECT_EQ(h.loading.load(), 1);
    EXPECT_EQ(h.map.zoneCount, 0);
    h.renderBusy.store(0);
    loader.join();
    expectKit(h);
}

}  // namespace
}  // namespace corvane

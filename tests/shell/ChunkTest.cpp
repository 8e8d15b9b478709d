// Chunks and .fxp/.fxb files on the plug-in object: per-instance buffer, damaged records
// and files, and where the instrument folder rewrite may act.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "FakeHost.h"

using corvane::PatchRecord;
using corvane::VstSynth;
using namespace corvane::test;
namespace fs = std::filesystem;

namespace {

constexpr int kProgramChunk = 12820;
constexpr int kBankChunk = 1635880;
constexpr int kRecord = 12780;

void setHeaderField(std::vector<uint8_t>& chunk, int i, int32_t v) {
    std::memcpy(chunk.data() + 4 * i, &v, 4);
}

std::vector<uint8_t> chunkOf(VstSynth& s, bool program) {
    void* data = nullptr;
    const int32_t size = s.getChunk(&data, program);
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + size);
}

std::vector<uint8_t> store(const VstSynth& s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.engine.patches.get());
    return std::vector<uint8_t>(p, p + 128 * kRecord);
}

void setName(VstSynth& s, int program, const char* name) {
    std::snprintf(s.engine.patches[program].name, 32, "%s", name);
}

std::vector<uint8_t> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
void writeFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
int32_t readBe(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<int32_t>(uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 |
                                uint32_t{b[at + 2]} << 8 | b[at + 3]);
}

class TempDir {
  public:
    TempDir() {
        char name[256];
        std::snprintf(name, sizeof name, "corvane_chunks_%d_%s", static_cast<int>(::getpid()),
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        path_ = fs::temp_directory_path() / name;
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

}  // namespace

TEST(Chunks, BufferBelongsToItsInstance) {
    auto a = makeSynth();
    auto b = makeSynth();
    setName(*a, 0, "From A");
    void* pa = nullptr;
    void* pb = nullptr;
    a->getChunk(&pa, true);
    b->getChunk(&pb, true);
    EXPECT_NE(pa, pb);
    EXPECT_STREQ(static_cast<const char*>(pa) + 40, "From A");
}

TEST(Chunks, ProgramChunkReplacesTheCurrentProgram) {
    auto a = makeSynth();
    a->setParameter(28, 0.25f);
    setName(*a, 0, "Source");
    auto chunk = chunkOf(*a, true);
    std::memset(chunk.data() + 40, 'x', 32);  // a name without its terminator

    auto b = makeSynth();
    b->setProgram(6);
    EXPECT_EQ(b->setChunk(chunk.data(), kProgramChunk, true), kProgramChunk);
    EXPECT_EQ(b->engine.currentProgram, 6);
    EXPECT_FLOAT_EQ(b->getParameter(28), 0.25f);
    EXPECT_EQ(std::string(b->engine.patches[6].name), std::string(31, 'x'));
    EXPECT_STREQ(b->engine.patches[5].name, "Init Patch");
}

// Short, oversized and miscounted chunks through the library: SurfaceThroughSoTest.
TEST(Chunks, RejectedChunkLeavesHeaderValuesAlone) {
    auto a = makeSynth();
    auto bank = chunkOf(*a, false);
    setHeaderField(bank, 4, 7);  // bend range up
    setHeaderField(bank, 8, 3);  // data version
    auto b = makeSynth();
    const auto before = store(*b);
    for (int32_t count : {0, 1 << 30}) {
        setHeaderField(bank, 1, count);
        EXPECT_EQ(b->setChunk(bank.data(), kBankChunk, false), 0) << count;
    }
    EXPECT_EQ(b->setChunk(bank.data(), -5, false), 0);
    EXPECT_EQ(b->setChunk(nullptr, kBankChunk, false), 0);
    EXPECT_EQ(store(*b), before);
    EXPECT_EQ(b->engine.bendRangeUp, 2);
    EXPECT_EQ(b->engine.dataVersion, 20);
}

TEST(Files, SavingAProgramNamesItAfterTheFile) {
    TempDir dir;
    auto s = makeSynth();
    s->setProgram(2);
    const fs::path path = dir / "My Lead.fxp";
    ASSERT_TRUE(s->saveProgramFile(path.c_str()));
    EXPECT_STREQ(s->engine.patches[2].name, "My Lead");

    const auto file = readFile(path);
    ASSERT_EQ(file.size(), size_t(60 + kProgramChunk));
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "CcnK");
    EXPECT_EQ(readBe(file, 4), kProgramChunk + 52);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), "FPCh");
    EXPECT_EQ(readBe(file, 12), 1);
    EXPECT_EQ(std::string(file.begin() + 16, file.begin() + 20), "CRVN");
    EXPECT_EQ(readBe(file, 20), 1);
    EXPECT_EQ(readBe(file, 24), 337);
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data() + 28), "My Lead");
    EXPECT_EQ(readBe(file, 56), kProgramChunk);
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data() + 60 + 40), "My Lead");

    // An unwritable path leaves the name alone.
    EXPECT_FALSE(s->saveProgramFile((dir / "missing" / "Other.fxp").c_str()));
    EXPECT_STREQ(s->engine.patches[2].name, "My Lead");
}

TEST(Files, ProgramAndBankFilesRoundTripByteForByte) {
    TempDir dir;
    auto a = makeSynth();
    a->setParameter(28, 0.3f);
    setName(*a, 7, "Seventh");
    ASSERT_TRUE(a->saveProgramFile((dir / "Pad.fxp").c_str()));
    ASSERT_TRUE(a->saveBankFile((dir / "Set.fxb").c_str()));
    const auto bankFile = readFile(dir / "Set.fxb");
    ASSERT_EQ(bankFile.size(), size_t(160 + kBankChunk));
    EXPECT_EQ(std::string(bankFile.begin() + 8, bankFile.begin() + 12), "FBCh");
    EXPECT_EQ(readBe(bankFile, 4), kBankChunk + 152);
    EXPECT_EQ(readBe(bankFile, 24), 128);
    EXPECT_EQ(readBe(bankFile, 156), kBankChunk);

    auto b = makeSynth();
    fs::create_directories(dir / "b");
    ASSERT_TRUE(b->loadBankFile((dir / "Set.fxb").c_str()));
    ASSERT_TRUE(b->saveBankFile((dir / "b" / "Set.fxb").c_str()));
    EXPECT_EQ(readFile(dir / "b" / "Set.fxb"), bankFile);
    EXPECT_STREQ(b->engine.patches[7].name, "Seventh");

    auto c = makeSynth();
    ASSERT_TRUE(c->loadProgramFile((dir / "Pad.fxp").c_str()));
    EXPECT_FLOAT_EQ(c->getParameter(28), 0.3f);
    ASSERT_TRUE(c->saveProgramFile((dir / "b" / "Pad.fxp").c_str()));
    EXPECT_EQ(readFile(dir / "b" / "Pad.fxp"), readFile(dir / "Pad.fxp"));
}

TEST(Files, ForeignShortAndDamagedFilesChangeNothing) {
    TempDir dir;
    auto a = makeSynth();
    setName(*a, 0, "Intruder");
    ASSERT_TRUE(a->saveProgramFile((dir / "Good.fxp").c_str()));
    ASSERT_TRUE(a->saveBankFile((dir / "Good.fxb").c_str()));
    const auto fxp = readFile(dir / "Good.fxp");
    const auto fxb = readFile(dir / "Good.fxb");

    auto b = makeSynth();
    const auto before = store(*b);
    auto variant = [&](const std::string& name, std::vector<uint8_t> bytes) {
        writeFile(dir / name, bytes);
        return (dir / name).string();
    };

    auto foreign = fxp;
    foreign[19] = 'X';  // fxID CRVX
    EXPECT_FALSE(b->loadProgramFile(variant("foreign.fxp", foreign).c_str()));
    auto foreignBank = fxb;
    foreignBank[16] = 'Z';
    EXPECT_FALSE(b->loadBankFile(variant("foreign.fxb", foreignBank).c_str()));
    EXPECT_FALSE(b->loadProgramFile(
        variant("short.fxp", std::vector<uint8_t>(fxp.begin(), fxp.end() - 1)).c_str()));
    EXPECT_FALSE(b->loadBankFile(
        variant("short.fxb", std::vector<uint8_t>(fxb.begin(), fxb.begin() + 5000)).c_str()));
    EXPECT_FALSE(b->loadProgramFile(
        variant("header.fxp", std::vector<uint8_t>(fxp.begin(), fxp.begin() + 30)).c_str()));
    EXPECT_FALSE(b->loadBankFile(variant("empty.fxb", {}).c_str()));
    auto hugeSize = fxp;
    hugeSize[56] = 0x7F;  // chunk size 2 GB
    EXPECT_FALSE(b->loadProgramFile(variant("huge.fxp", hugeSize).c_str()));
    auto badCount = fxb;
    badCount[160 + 4] = 200;  // 200 records in a bank of 128
    EXPECT_FALSE(b->loadBankFile(variant("count.fxb", badCount).c_str()));
    EXPECT_FALSE(b->loadBankFile((dir / "nowhere.fxb").c_str()));
    EXPECT_FALSE(b->loadProgramFile(nullptr));

    EXPECT_EQ(store(*b), before);
    EXPECT_EQ(b->engine.bankFolderSet, 0);
}

TEST(Files, BytesAfterTheChunkAreIgnoredButAnAnnouncedChunkMustBeThere) {
    TempDir dir;
    auto a = makeSynth();
    a->setParameter(28, 0.3f);
    ASSERT_TRUE(a->saveProgramFile((dir / "Pad.fxp").c_str()));
    ASSERT_TRUE(a->saveBankFile((dir / "Set.fxb").c_str()));
    auto fxp = readFile(dir / "Pad.fxp");
    auto fxb = readFile(dir / "Set.fxb");
    auto bigEndian = [](std::vector<uint8_t>& b, size_t at, int32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (24 - 8 * i));
    };

    // A program chunk announced 80 bytes longer than its record, and holding them.
    auto longer = fxp;
    bigEndian(longer, 56, kProgramChunk + 80);
    bigEndian(longer, 4, kProgramChunk + 80 + 52);
    longer.resize(longer.size() + 80, 0xEE);
    writeFile(dir / "Longer.fxp", longer);
    auto b = makeSynth();
    EXPECT_TRUE(b->loadProgramFile((dir / "Longer.fxp").c_str()));
    EXPECT_FLOAT_EQ(b->getParameter(28), 0.3f);

    // Announced longer, but the file ends after the record: cut short, refused.
    longer.resize(longer.size() - 80);
    writeFile(dir / "Cut.fxp", longer);
    auto c = makeSynth();
    EXPECT_FALSE(c->loadProgramFile((dir / "Cut.fxp").c_str()));
    EXPECT_FLOAT_EQ(c->getParameter(28), 1.0f);  // the init patch's value
    // Announced shorter than one record: refused even when the record follows.
    auto shorter = fxp;
    bigEndian(shorter, 56, kProgramChunk - 1);
    writeFile(dir / "Shorter.fxp", shorter);
    EXPECT_FALSE(c->loadProgramFile((dir / "Shorter.fxp").c_str()));

    // Bytes after a whole bank, or after a program file's chunk, are left unread.
    fxb.resize(fxb.size() + 33, 0xEE);
    fxp.resize(fxp.size() + 33, 0xEE);
    writeFile(dir / "Trailing.fxb", fxb);
    writeFile(dir / "Trailing.fxp", fxp);
    auto d = makeSynth();
    EXPECT_TRUE(d->loadBankFile((dir / "Trailing.fxb").c_str()));
    EXPECT_FLOAT_EQ(d->getParameter(28), 0.3f);
    auto e = makeSynth();
    EXPECT_TRUE(e->loadProgramFile((dir / "Trailing.fxp").c_str()));
    EXPECT_FLOAT_EQ(e->getParameter(28), 0.3f);
}

TEST(Files, OnlyTheBankFromAFileLooksForItsInstrumentsBesideIt) {
    TempDir dir;
    auto a = makeSynth();
    ASSERT_TRUE(a->saveProgramFile((dir / "Lead.fxp").c_str()));
    std::snprintf(a->engine.patches[5].sampleFolder, 1000, "C:\\Sounds\\");
    std::snprintf(a->engine.patches[5].sampleFile, 220, "C:\\Sounds\\Piano.sfz");
    ASSERT_TRUE(a->saveBankFile((dir / "Drums.fxb").c_str()));
    const auto bank = chunkOf(*a, false);

    // A program file's folder does not reach a later bank restore by the host.
    auto b = makeSynth();
    ASSERT_TRUE(b->loadProgramFile((dir / "Lead.fxp").c_str()));
    ASSERT_EQ(b->setChunk(const_cast<uint8_t*>(bank.data()), kBankChunk, false), kBankChunk);
    EXPECT_STREQ(b->engine.patches[5].sampleFolder, "C:\\Sounds\\");
    EXPECT_STREQ(b->engine.patches[5].sampleFile, "C:\\Sounds\\Piano.sfz");

    // A bank file's programs look in the folder named after it.
    auto c = makeSynth();
    ASSERT_TRUE(c->loadBankFile((dir / "Drums.fxb").c_str()));
    std::string folder = (dir / "Drums").string() + "\\";
    for (char& ch : folder)
        if (ch == '/') ch = '\\';
    EXPECT_EQ(std::string(c->engine.patches[5].sampleFolder), folder);
    EXPECT_STREQ(c->engine.patches[5].sampleFile, "Piano.sfz");
    EXPECT_EQ(c->engine.bankFolderSet, 0);
}

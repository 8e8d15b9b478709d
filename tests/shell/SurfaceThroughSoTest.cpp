// Parameters, programs, chunks and MIDI as a host sees them through Corvane.so.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TestHost.h"

using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;

namespace {

std::unique_ptr<Plugin> loadCorvane() {
    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error);
    EXPECT_TRUE(p) << error;
    if (p) p->start(44100.0, 256);
    return p;
}

int32_t field(const std::vector<uint8_t>& chunk, int i) {
    int32_t v;
    std::memcpy(&v, chunk.data() + 4 * i, 4);
    return v;
}

void setField(std::vector<uint8_t>& chunk, int i, int32_t v) {
    std::memcpy(chunk.data() + 4 * i, &v, 4);
}

MidiMessage msg(int status, int d1, int d2, int32_t frame = 0) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}

void runBlock(Plugin& p, const std::vector<MidiMessage>& midi) {
    std::vector<float> l(256), r(256);
    p.sendMidi(midi);
    p.process(l.data(), r.data(), 256);
}

}  // namespace

TEST(SurfaceThroughSo, NamesAndDisplayTexts) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    const std::pair<int, const char*> names[] = {{0, "Osc 1 Shape"},
                                                 {95, "FX Reverb Predly"},
                                                 {110, "Reserved"},
                                                 {111, "FM Mode"},
                                                 {143, "ModSrc16"},
                                                 {144, "ModSrc1"},
                                                 {287, "Arp32"},
                                                 {288, "ArpFinger1"},
                                                 {328, "Effect order - slot 6"},
                                                 {337, "GraphEnv A Length"},
                                                 {357, "Bottom View 1 selection"},
                                                 {363, "FX Select"},
                                                 {364, ""}};
    for (const auto& [slot, name] : names)
        EXPECT_EQ(p->paramName(slot), name) << slot;
    EXPECT_EQ(p->paramLabel(28), "");
    EXPECT_FLOAT_EQ(p->getParameter(74), 0.365001f);
    EXPECT_EQ(p->paramDisplay(74), "37 %");

    struct Case {
        int slot;
        float value;
        const char* text;
    } cases[] = {
        {0, 0.34f, "Pulse"},       {5, 0.67f, "Sine"},
        {0, 1.0f, "Wavetbl"},      {1, 0.5f, "0"},
        {1, 1.0f, "+36"},          {6, 0.0f, "-36"},
        {2, 0.5f, "0.0 ct"},       {10, 1.0f, "Triangle"},
        {31, 0.75f, "+50 %"},      {31, 0.25f, "-50 %"},
        {33, 1.0f, "S+H"},         {34, 0.5f, "3.2 Hz"},
        {36, 0.0f, "Off"},         {45, 1.0f, "10.00 s"},
        {73, 0.5f, "0 %"},         {73, 1.0f, "+75 %"},
        {79, 0.5f, "Flanger+"},    {80, 1.0f, "20.00 Hz"},
        {85, 0.125f, "Ping-Pong"}, {85, 1.0f, "Diffuse"},
        {86, 0.505f, "0"},         {86, 1.0f, "+64"},
        {89, 0.5f, "1/8"},         {90, 1.0f, "1/64T"},
        {91, 1.0f, "Cathedral"},   {93, 0.0f, "0.5 s"},
        {95, 0.0f, "0 ms"},        {95, 1.0f, "100 ms"},
        {96, 0.5f, "100 Hz"},      {97, 1.0f, "LP+Clip"},
        {101, 0.0f, "Peaking"},    {106, 0.5f, "Lo Shelf"},
        {101, 1.0f, "Hi Shelf"},   {102, 0.5f, "316 Hz"},
        {103, 0.5f, "1.0"},        {104, 0.5f, "+0.0 dB"},
        {104, 0.25f, "-10.0 dB"},  {74, 0.5f, "50 %"},
        {72, 1.0f, "+31/32"},      {77, 0.25f, "25 %"},
        {71, 0.65f, "1/32"},  // the init patch's arpeggiator is synced
    };
    for (const Case& c : cases) {
        p->setParameter(c.slot, c.value);
        EXPECT_EQ(p->paramDisplay(c.slot), c.text) << "slot " << c.slot << " at " << c.value;
    }

    // Texts that follow another switch: LFO sync, distortion type.
    p->setParameter(46, 1.0f);
    p->setParameter(43, 1.0f);
    EXPECT_EQ(p->paramDisplay(43), "1/32T");
    // The corner of the type's own filter: low-pass types 100..20000 Hz, high-pass 1..2000.
    const std::pair<float, const char*> colour[] = {
        {0.0f, "20000 Hz"}, {0.375f, "2000 Hz"}, {1.0f, "20000 Hz"}};
    p->setParameter(98, 1.0f);
    for (const auto& [type, text] : colour) {
        p->setParameter(97, type);
        EXPECT_EQ(p->paramDisplay(98), text) << type;
    }
}

TEST(SurfaceThroughSo, ProgramNamesAndChunks) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    bool ok = false;
    EXPECT_EQ(p->programNameIndexed(0, &ok), "Init Patch");
    EXPECT_TRUE(ok);
    EXPECT_EQ(p->programNameIndexed(127, &ok), "Init Patch");
    p->programNameIndexed(128, &ok);
    EXPECT_FALSE(ok);

    p->setProgram(5);
    const auto program = p->getChunk(true);
    ASSERT_EQ(program.size(), 12820u);
    const int32_t header[10] = {337, 1, 5, field(program, 3), 2, 2, 20, 0, 20, 0};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(field(program, i), header[i]) << "field " << i;
    EXPECT_GE(field(program, 3), 8);  // voices
    EXPECT_STREQ(reinterpret_cast<const char*>(program.data() + 40), "Init Patch");

    const auto bank = p->getChunk(false);
    ASSERT_EQ(bank.size(), 1635880u);
    EXPECT_EQ(field(bank, 1), 128);
}

TEST(SurfaceThroughSo, BankChunkOfThreeRecordsAndRejectedChunks) {
    auto source = loadCorvane();
    ASSERT_TRUE(source);
    for (int i = 0; i < 4; ++i) {
        source->setProgram(i);
        const char name[] = {'N', 'e', 'w', static_cast<char>('0' + i), 0};
        source->dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>(name));
    }
    auto bank = source->getChunk(false);
    setField(bank, 1, 3);
    setField(bank, 2, 130);

    auto p = loadCorvane();
    ASSERT_TRUE(p);
    p->setProgram(7);
    const auto before = p->getChunk(false);
    auto rejected = [&](std::vector<uint8_t> chunk, size_t size, bool isProgram) {
        EXPECT_EQ(p->setChunk(chunk.data(), size, isProgram), 0);
        EXPECT_EQ(p->program(), 7);
        EXPECT_EQ(p->getChunk(false), before);
    };
    rejected(bank, 20, false);
    rejected(bank, 40 + 2 * 12780, false);
    rejected(p->getChunk(true), 12819, true);
    for (int32_t count : {129, -1}) {
        auto damaged = bank;
        setField(damaged, 1, count);
        rejected(damaged, damaged.size(), false);
    }

    EXPECT_EQ(p->setChunk(bank.data(), bank.size(), false), 1635880);
    EXPECT_EQ(p->program(), 2);
    EXPECT_EQ(p->programNameIndexed(0), "New0");
    EXPECT_EQ(p->programNameIndexed(2), "New2");
    EXPECT_EQ(p->programNameIndexed(3), "Init Patch");
}

// Stored sessions may carry bytes after the records a chunk needs: they are ignored.
TEST(SurfaceThroughSo, ChunksWithBytesAfterTheirRecordsAreTaken) {
    auto source = loadCorvane();
    ASSERT_TRUE(source);
    source->setProgram(1);
    source->dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>("Longer"));
    source->setParameter(28, 0.25f);
    auto program = source->getChunk(true);
    program.resize(program.size() + 100, 0xAB);
    auto bank = source->getChunk(false);
    bank.resize(bank.size() + 4, 0xAB);
    auto threeRecords = source->getChunk(false);
    setField(threeRecords, 1, 3);
    setField(threeRecords, 2, 1);
    threeRecords.resize(40 + 3 * 12780 + 77, 0xAB);

    auto p = loadCorvane();
    ASSERT_TRUE(p);
    p->setProgram(3);
    EXPECT_EQ(p->setChunk(program.data(), program.size(), true), 12820);
    EXPECT_EQ(p->program(), 3);
    EXPECT_EQ(p->programName(), "Longer");
    EXPECT_FLOAT_EQ(p->getParameter(28), 0.25f);

    auto q = loadCorvane();
    ASSERT_TRUE(q);
    EXPECT_EQ(q->setChunk(threeRecords.data(), threeRecords.size(), false), 1635880);
    EXPECT_EQ(q->program(), 1);
    EXPECT_EQ(q->programNameIndexed(1), "Longer");
    EXPECT_FLOAT_EQ(q->getParameter(28), 0.25f);

    auto r = loadCorvane();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->setChunk(bank.data(), bank.size(), false), 1635880);
    EXPECT_EQ(r->programNameIndexed(1), "Longer");
}

TEST(SurfaceThroughSo, MidiProgramsAndControllers) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    runBlock(*p, {msg(0xC4, 5, 0)});
    EXPECT_EQ(p->program(), 5);
    runBlock(*p, {msg(0xB2, 0, 1)});  // bank select keeps the program
    EXPECT_EQ(p->program(), 5);
    runBlock(*p, {msg(0xBF, 74, 0, 10)});  // "Filter Cutoff" by controller 74
    EXPECT_FLOAT_EQ(p->getParameter(28), 0.0f);
    runBlock(*p, {msg(0xB0, 74, 127)});
    EXPECT_FLOAT_EQ(p->getParameter(28), 1.0f);
    runBlock(*p, {msg(0xB0, 111, 127)});  // "Volume" by controller 111
    EXPECT_FLOAT_EQ(p->getParameter(74), 1.0f);
    // Bend, pressure, notes and all-notes-off are taken without touching stored values.
    const auto chunk = p->getChunk(true);
    runBlock(*p, {msg(0xE0, 0x7F, 0x7F), msg(0xD0, 90, 0), msg(0x90, 60, 100, 30),
                  msg(0x90, 60, 0, 90), msg(0xB0, 123, 0, 100)});
    EXPECT_EQ(p->getChunk(true), chunk);
}

// The block loop: host blocks are cut at note events into engine pieces of at most 64.
#include <gtest/gtest.h>

#include <vector>

#include "shell/VstSynth.h"

using corvane::VstSynth;

namespace {
intptr_t quietHost(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

struct Pieces {
    std::vector<int> frames, offsets;
    static void record(void* ctx, int n, int offset) {
        auto* self = static_cast<Pieces*>(ctx);
        self->frames.push_back(n);
        self->offsets.push_back(offset);
    }
};

std::vector<int> renderWithNotes(VstSynth& synth, int frames, std::vector<int> offsets) {
    Pieces pieces;
    synth.setRenderObserver(&Pieces::record, &pieces);
    for (int at : offsets)
        synth.appendNote(0x90, 60, at, 100);
    std::vector<float> l(frames), r(frames);
    float* out[2] = {l.data(), r.data()};
    synth.processReplacing(nullptr, out, frames);
    synth.setRenderObserver(nullptr, nullptr);
    return pieces.frames;
}
}  // namespace

TEST(BlockLoop, SplitsAtEventsIntoPiecesOfAtMost64) {
    auto synth = std::make_unique<VstSynth>(&quietHost);
    synth->setBlockSize(256);
    EXPECT_EQ(renderWithNotes(*synth, 256, {0, 100, 100}), (std::vector<int>{64, 36, 64, 64, 28}));
    EXPECT_EQ(synth->noteCount, 0);  // the list is emptied by every block
}

TEST(BlockLoop, EventsAtOrPastTheEndDoNotSplitAndUnsortedOnesPlayInPlace) {
    auto synth = std::make_unique<VstSynth>(&quietHost);
    synth->setBlockSize(128);
    EXPECT_EQ(renderWithNotes(*synth, 128, {128, 500}), (std::vector<int>{64, 64}));
    // 70 is rendered up to, then 10 (earlier, unsorted) plays at frame 70.
    EXPECT_EQ(renderWithNotes(*synth, 128, {70, 10}), (std::vector<int>{64, 6, 58}));
}

TEST(BlockLoop, BlockLongerThanAnnouncedIsRenderedInParts) {
    auto synth = std::make_unique<VstSynth>(&quietHost);
    synth->setBlockSize(64);
    EXPECT_EQ(renderWithNotes(*synth, 200, {100}), (std::vector<int>{64, 36, 28, 64, 8}));
}

TEST(BlockLoop, PartsOfALongBlockKeepTheListOrder) {
    auto synth = std::make_unique<VstSynth>(&quietHost);
    synth->setBlockSize(64);
    // 20 is listed after 150: it waits for it, as in a block rendered whole.
    EXPECT_EQ(renderWithNotes(*synth, 200, {150, 20}), (std::vector<int>{64, 64, 22, 42, 8}));
    // Past the block end is never played and holds nothing up.
    EXPECT_EQ(renderWithNotes(*synth, 200, {900, 20}), (std::vector<int>{20, 44, 64, 64, 8}));
}

TEST(BlockLoop, LoadingBlockIsSilentKeepsEditorNotesAndClearsInBlock) {
    auto synth = std::make_unique<VstSynth>(&quietHost);
    synth->setBlockSize(64);
    synth->queueGuiNote(0x90, 60, 100);
    synth->appendNote(0x90, 62, 0, 100);
    synth->engine.loading.store(1);
    std::vector<float> l(64, 1.0f), r(64, 1.0f);
    float* out[2] = {l.data(), r.data()};
    synth->processReplacing(nullptr, out, 64);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(l[i] + r[i], 0.0f);
    EXPECT_EQ(synth->noteCount, 0);      // host notes of that block are dropped
    EXPECT_EQ(synth->guiQueueWrite, 1);  // the editor's note waits for the next block
    EXPECT_FALSE(synth->inBlock.load());
    EXPECT_EQ(synth->engine.renderBusy.load(), 0);
    synth->engine.loading.store(0);
    synth->processReplacing(nullptr, out, 64);
    EXPECT_EQ(synth->guiQueueWrite, 0);
}

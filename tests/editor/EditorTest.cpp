// The editor through Corvane.so, driven as a person would under a private Xvfb: the host's
// top-level window, idle calls, XTest pointer and keys, XDND drops and pixels read back.
// Positions are those of the window at 100 % zoom.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "EditorHarness.h"
#include "TestHost.h"
#include "vst/VstAbi.h"

namespace fs = std::filesystem;
using corvane::testhost::EditorHarness;
using corvane::testhost::Plugin;
using corvane::testhost::Rgb;
using corvane::testhost::Xvfb;

namespace {

const std::string kHandclap =
    std::string(CORVANE_SHARED_DIR) + "/content/body-percussion/Programs/body_handclap.sfz";

// Places in the window.
constexpr int kCutoffX = 482, kCutoffY = 128;  // "Cutoff" knob (slot 28) on the first page
constexpr int kResonanceX = 546, kResonanceY = 128;
constexpr int kProgramX = 135, kCategoryX = 500, kFileX = 652, kZoomX = 734, kHeaderY = 20;
int tabX(int page) {
    return 490 + page * 92 + 44;
}
constexpr int kTabY = 54;
// Popup items: the menu's top-left corner, 18 pixels a row.
int itemY(int top, int row) {
    return top + row * 18 + 9;
}
// White key n (0 = key 24) of the on-screen keyboard, near its front edge.
int whiteKeyX(int n) {
    return static_cast<int>(74 + (n + 0.5) * (876.0 / 35.0));
}
constexpr int kWhiteKeyY = 604;

class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb_.ok()) << "Xvfb could not be started";
        std::string error;
        plugin_ = Plugin::load(CORVANE_SO_PATH, &error);
        ASSERT_TRUE(plugin_) << error;
        plugin_->start(44100.0, 512);
        harness_ = std::make_unique<EditorHarness>(*plugin_);
        ASSERT_TRUE(harness_->ok());
    }
    void TearDown() override {
        harness_.reset();
        plugin_.reset();
    }

    float storedSlot(int slot) {
        const std::vector<uint8_t> chunk = plugin_->getChunk(true);
        float v = 0;
        std::memcpy(&v, chunk.data() + 40 + 512 + 4 * slot, 4);
        return v;
    }

    double renderEnergy(int blocks) {
        std::vector<float> l(512), r(512);
        double e = 0;
        for (int i = 0; i < blocks; ++i) {
            plugin_->process(l.data(), r.data(), 512);
            for (int j = 0; j < 512; ++j)
                e += double(l[j]) * l[j] + double(r[j]) * r[j];
        }
        return e;
    }

    static bool near(const Rgb& a, int r, int g, int b, int tolerance = 6) {
        return std::abs(a.r - r) <= tolerance && std::abs(a.g - g) <= tolerance &&
               std::abs(a.b - b) <= tolerance;
    }

    Xvfb xvfb_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<EditorHarness> harness_;
};

TEST_F(EditorTest, IsAnnouncedAndOpensAtItsSize) {
    EXPECT_TRUE(plugin_->effect()->flags & vst::effFlagsHasEditor);
    vst::ERect* rect = nullptr;
    EXPECT_EQ(plugin_->dispatch(vst::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 960);
    EXPECT_EQ(rect->bottom - rect->top, 640);
    // No parent window: refused, and nothing breaks.
    EXPECT_EQ(plugin_->dispatch(vst::effEditOpen, 0, 0, nullptr), 0);
    plugin_->dispatch(vst::effEditIdle);
    plugin_->dispatch(vst::effEditClose);
    ASSERT_TRUE(harness_->open());
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(EditorTest, OpensAndClosesTwoHundredTimes) {
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(harness_->open()) << "opening " << i;
        plugin_->dispatch(vst::effEditIdle);
        harness_->close();
        plugin_->dispatch(vst::effEditIdle);  // idle after close does nothing
    }
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(EditorTest, PluginDeletedWithTheWindowOpen) {
    ASSERT_TRUE(harness_->open());
    harness_->click(kCutoffX, kCutoffY, 3);  // a popup menu open as well
    plugin_.reset();
    harness_->pluginGone();
    harness_->idle(20);
    EXPECT_EQ(harness_->errors(), 0);
    // The host's window is intact and now empty of the editor.
    EXPECT_TRUE(near(harness_->pixel(kCutoffX, kCutoffY), 0, 0, 0));
}

TEST_F(EditorTest, KnobDragIsOneHostGesture) {
    ASSERT_TRUE(harness_->open());
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), 1.0f);  // the init patch's open filter
    plugin_->edits.clear();
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 40);
    ASSERT_GE(plugin_->edits.size(), 3u);
    EXPECT_EQ(plugin_->edits.front().opcode, vst::audioMasterBeginEdit);
    EXPECT_EQ(plugin_->edits.front().index, 28);
    EXPECT_EQ(plugin_->edits.back().opcode, vst::audioMasterEndEdit);
    EXPECT_EQ(plugin_->edits.back().index, 28);
    for (size_t i = 1; i + 1 < plugin_->edits.size(); ++i) {
        EXPECT_EQ(plugin_->edits[i].opcode, vst::audioMasterAutomate);
        EXPECT_EQ(plugin_->edits[i].index, 28);
    }
    // 40 pixels of a 200-pixel range.
    EXPECT_NEAR(plugin_->getParameter(28), 0.8f, 0.011f);
    EXPECT_NEAR(plugin_->edits[plugin_->edits.size() - 2].value, plugin_->getParameter(28), 1e-6);

    // With Shift the same distance moves ten times less.
    harness_->holdShift(true);
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY - 40);
    harness_->holdShift(false);
    EXPECT_NEAR(plugin_->getParameter(28), 0.82f, 0.003f);

    // The wheel: three steps of 1 %.
    harness_->scroll(kResonanceX, kResonanceY, 3);
    EXPECT_NEAR(plugin_->getParameter(29), 0.03f, 1e-4);

    // A double-click returns the knob to the init patch's value.
    harness_->move(kCutoffX, kCutoffY);
    harness_->press();
    harness_->release();
    harness_->press();
    harness_->release();
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), 1.0f);

    // The controller learned for the slot (74 by default) is echoed to the host.
    bool echoed = false;
    for (const auto& m : plugin_->midiFromPlugin)
        echoed |= m[0] == 0xB0 && m[1] == 74;
    EXPECT_TRUE(echoed);
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(EditorTest, AutomationFromAnotherThreadMovesTheKnob) {
    ASSERT_TRUE(harness_->open());
    const auto before = harness_->grab(450, 104, 64, 48);
    std::atomic<bool> done{false};
    vst::AEffect* effect = plugin_->effect();
    std::thread automation([&] {
        for (int i = 0; i <= 2000; ++i)
            effect->setParameter(effect, 28, 1.0f - i / 2000.0f);
        done = true;
    });
    while (!done)
        harness_->idle(5);
    automation.join();
    harness_->idle(30);
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), 0.0f);
    const auto after = harness_->grab(450, 104, 64, 48);
    EXPECT_NE(before, after);
    // Back at 1.0 the knob looks as it did.
    plugin_->setParameter(28, 1.0f);
    harness_->idle(30);
    EXPECT_EQ(harness_->grab(450, 104, 64, 48), before);
}

TEST_F(EditorTest, DroppedInstrumentLightsItsKeysAndAClickedKeySounds) {
    ASSERT_TRUE(harness_->open());
    for (int n = 0; n < 35; ++n)
        EXPECT_TRUE(near(harness_->pixel(whiteKeyX(n), kWhiteKeyY), 237, 237, 235)) << "key " << n;
    ASSERT_TRUE(harness_->dropFile(kHandclap));
    // The handclap regions cover every key: all of them are lit.
    for (int n = 0; n < 35; ++n)
        EXPECT_TRUE(near(harness_->pixel(whiteKeyX(n), kWhiteKeyY), 204, 224, 247)) << "key " << n;

    EXPECT_EQ(renderEnergy(2), 0.0);
    const int c3 = 21;  // white key 21 is key 60
    harness_->move(whiteKeyX(c3), kWhiteKeyY);
    harness_->press();
    EXPECT_TRUE(near(harness_->pixel(whiteKeyX(c3), kWhiteKeyY), 245, 158, 46));  // held
    EXPECT_GT(renderEnergy(1), 1e-3);
    harness_->release();
    renderEnergy(40);
    harness_->idle(30);
    EXPECT_TRUE(near(harness_->pixel(whiteKeyX(c3), kWhiteKeyY), 204, 224, 247));
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(EditorTest, ProgramAndCategoryMenusSelectAndFilter) {
    ASSERT_TRUE(harness_->open());
    harness_->click(kProgramX, kHeaderY);
    harness_->click(40, itemY(36, 2));  // the third program
    EXPECT_EQ(plugin_->program(), 2);
    // The category menu sets the patch's category ("Category: Bass" is the third entry)
    // and narrows the program menu to that category.
    harness_->click(kCategoryX, kHeaderY);
    harness_->click(kCategoryX - 60, itemY(36, 2));
    EXPECT_FLOAT_EQ(storedSlot(322), 2.0f);
    harness_->click(kProgramX, kHeaderY);
    harness_->click(40, itemY(36, 1));  // no second entry: the menu closes, nothing changes
    EXPECT_EQ(plugin_->program(), 2);
    harness_->click(kProgramX, kHeaderY);
    harness_->click(40, itemY(36, 0));
    EXPECT_EQ(plugin_->program(), 2);
    // "Category: None" lifts the filter.
    harness_->click(kCategoryX, kHeaderY);
    harness_->click(kCategoryX - 60, itemY(36, 0));
    EXPECT_FLOAT_EQ(storedSlot(322), 0.0f);
    harness_->click(kProgramX, kHeaderY);
    harness_->click(40, itemY(36, 5));
    EXPECT_EQ(plugin_->program(), 5);
    // Arrows step through the programs.
    harness_->click(305, kHeaderY);
    EXPECT_EQ(plugin_->program(), 6);
    harness_->click(277, kHeaderY);
    EXPECT_EQ(plugin_->program(), 5);
}

TEST_F(EditorTest, MidiLearnThenForget) {
    ASSERT_TRUE(harness_->open());
    harness_->click(kCutoffX, kCutoffY, 3);
    harness_->click(kCutoffX + 10, itemY(kCutoffY, 0));  // "MIDI Learn"
    plugin_->sendMidi({{0, {0xB0, 20, 127}}});
    std::vector<float> l(512), r(512);
    plugin_->process(l.data(), r.data(), 512);
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), 1.0f);
    plugin_->sendMidi({{0, {0xB0, 20, 0}}});
    plugin_->process(l.data(), r.data(), 512);
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), 0.0f);  // controller 20 now drives the cutoff

    harness_->click(kCutoffX, kCutoffY, 3);
    harness_->click(kCutoffX + 10, itemY(kCutoffY, 1));  // "MIDI Forget"
    plugin_->sendMidi({{0, {0xB0, 20, 127}}, {0, {0xB0, 74, 127}}});
    plugin_->process(l.data(), r.data(), 512);
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), 0.0f);  // neither controller reaches it
}

TEST_F(EditorTest, SavePatchThroughTheBrowserLoadsBackIdentically) {
    const fs::path dir = fs::temp_directory_path() / ("crveditor" + std::to_string(getpid()));
    fs::create_directories(dir);
    ASSERT_TRUE(harness_->open());
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 30);
    const std::vector<uint8_t> saved = plugin_->getChunk(true);

    harness_->click(kFileX, kHeaderY);
    harness_->click(kFileX + 10, itemY(36, 2));  // "Save Patch..."
    const std::string file = (dir / "mypatch.fxp").string();
    harness_->type(file);
    harness_->key("Return");
    ASSERT_TRUE(fs::exists(file));

    // Change the patch, then load the file back through "Load Patch...".
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 60);
    EXPECT_NE(plugin_->getChunk(true), saved);
    harness_->click(kFileX, kHeaderY);
    harness_->click(kFileX + 10, itemY(36, 1));  // "Load Patch..."
    harness_->type(file);
    harness_->key("Return");
    std::vector<uint8_t> loaded = plugin_->getChunk(true);
    // Saving named the program after the file; everything else is as it was.
    char name[32] = {};
    std::memcpy(name, loaded.data() + 40, 31);
    EXPECT_STREQ(name, "mypatch");
    std::memcpy(loaded.data() + 40, saved.data() + 40, 32);
    EXPECT_EQ(loaded, saved);
    fs::remove_all(dir);
}

TEST_F(EditorTest, InstrumentBrowserLoadsAnInstrumentThatSounds) {
    ASSERT_TRUE(harness_->open());
    harness_->click(412, 54);  // "Load SFZ/REX..."
    harness_->type(kHandclap);
    harness_->key("Return");
    plugin_->sendMidi({{0, {0x90, 60, 100}}});
    EXPECT_GT(renderEnergy(2), 1e-3);
}

TEST_F(EditorTest, ReorderingEffectPanelsChangesTheSound) {
    auto render = [&](bool reorder) {
        ASSERT_TRUE(harness_->open());
        harness_->dropFile(kHandclap);
        plugin_->setParameter(119, 1.0f);  // distortion on
        plugin_->setParameter(99, 1.0f);   // full drive
        plugin_->setParameter(117, 1.0f);  // delay on
        if (reorder) {
            harness_->click(tabX(4), kTabY);
            // Drag the distortion panel (first) past the delay (fifth).
            harness_->drag(10 + 76, 92, 10 + 4 * 156 + 76, 92, 12);
            EXPECT_FLOAT_EQ(storedSlot(323), 1.0f);
            EXPECT_FLOAT_EQ(storedSlot(327), 0.0f);
            EXPECT_FLOAT_EQ(storedSlot(326), 4.0f);
        }
        plugin_->sendMidi({{0, {0x90, 60, 127}}});
    };
    render(false);
    std::vector<float> a, aR, b, bR;
    plugin_->render(44100, 512, {}, a, aR);
    harness_.reset();
    std::string error;
    plugin_ = Plugin::load(CORVANE_SO_PATH, &error);
    plugin_->start(44100.0, 512);
    harness_ = std::make_unique<EditorHarness>(*plugin_);
    render(true);
    plugin_->render(44100, 512, {}, b, bR);
    ASSERT_EQ(a.size(), b.size());
    double diff = 0, sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        diff += std::fabs(a[i] - b[i]);
        sum += std::fabs(a[i]);
    }
    EXPECT_GT(sum, 1.0);
    EXPECT_GT(diff, 0.05 * sum);
}

TEST_F(EditorTest, LaneStepsAreDrawnWithThePointer) {
    ASSERT_TRUE(harness_->open());
    harness_->click(tabX(3), kTabY);
    // Step 5 of the note lane: a click near the top is two octaves up.
    const int x = static_cast<int>(60 + 4 * 27.5 + 12);
    harness_->click(x, 222);
    EXPECT_EQ(static_cast<int>(storedSlot(260) * 128), 25);
    // The right button makes it a rest, then a tie.
    harness_->click(x, 300, 3);
    EXPECT_EQ(static_cast<int>(storedSlot(260) * 128), 0);
    harness_->click(x, 300, 3);
    EXPECT_FLOAT_EQ(storedSlot(260), 1.0f);
    // The second lane takes the height as it is.
    harness_->click(x, 392 + 61);
    EXPECT_NEAR(storedSlot(292), 0.5f, 0.02f);
}

TEST_F(EditorTest, ZoomResizesTheWindowAndIsRemembered) {
    ASSERT_TRUE(harness_->open());
    harness_->click(kZoomX, kHeaderY);
    EXPECT_EQ(plugin_->sizeWindow, std::make_pair(1440, 960));
    harness_->close();
    vst::ERect* rect = nullptr;
    plugin_->dispatch(vst::effEditGetRect, 0, 0, &rect);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right, 1440);
    ASSERT_TRUE(harness_->open());
    // At 150 % the cutoff knob sits half as far again from the corner.
    plugin_->edits.clear();
    harness_->drag(kCutoffX * 3 / 2, kCutoffY * 3 / 2, kCutoffX * 3 / 2, kCutoffY * 3 / 2 + 60);
    ASSERT_FALSE(plugin_->edits.empty());
    EXPECT_EQ(plugin_->edits.front().index, 28);
    EXPECT_NEAR(plugin_->getParameter(28), 0.8f, 0.011f);
}

TEST_F(EditorTest, EveryPageIsDrawnAndDiffers) {
    ASSERT_TRUE(harness_->open());
    std::vector<std::vector<Rgb>> pages;
    for (int p = 0; p < 5; ++p) {
        harness_->click(tabX(p), kTabY);
        harness_->move(5, 635);  // no tooltip
        pages.push_back(harness_->grab(0, 0, 960, 640));
        // Not blank: the background, the panels, the text and the keys are all there.
        std::vector<uint32_t> colours;
        for (size_t i = 0; i < pages.back().size(); i += 7) {
            const Rgb& c = pages.back()[i];
            const uint32_t v = (c.r << 16) | (c.g << 8) | c.b;
            if (std::find(colours.begin(), colours.end(), v) == colours.end()) colours.push_back(v);
        }
        EXPECT_GT(colours.size(), 20u) << "page " << p;
        EXPECT_TRUE(near(harness_->pixel(480, 74), 33, 37, 41)) << "page " << p;  // background
    }
    for (int p = 1; p < 5; ++p)
        EXPECT_NE(pages[p], pages[p - 1]);
    // The page is part of the remembered view state: reopening shows the last one.
    harness_->close();
    ASSERT_TRUE(harness_->open());
    harness_->move(5, 635);
    EXPECT_EQ(harness_->grab(0, 0, 960, 640), pages[4]);
}

TEST_F(EditorTest, KeyboardAloneMovesAControl) {
    ASSERT_TRUE(harness_->open());
    harness_->click(kResonanceX, kResonanceY);  // focus
    const float start = plugin_->getParameter(29);
    harness_->key("Up");
    harness_->key("Up");
    EXPECT_NEAR(plugin_->getParameter(29), start + 0.02f, 1e-4);
    harness_->key("End");
    EXPECT_FLOAT_EQ(plugin_->getParameter(29), 1.0f);
    // Ctrl+Right turns the page.
    harness_->key("Escape");
    harness_->key("Right");
    harness_->move(5, 635);
    harness_->idle(20);
    // The second page has no "Cutoff" knob: dragging there changes nothing.
    const float cutoff = plugin_->getParameter(28);
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 40);
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), cutoff);
}

}  // namespace

namespace {

TEST_F(EditorTest, ListMenusRenameAndPatternMenu) {
    ASSERT_TRUE(harness_->open());
    // The filter type menu: "Low-pass" is its second entry.
    harness_->click(388, 140);
    harness_->click(388, itemY(154, 1));
    EXPECT_FLOAT_EQ(storedSlot(126), 1.0f);
    // The wheel over a menu steps through its entries.
    harness_->scroll(388, 140, 1);
    EXPECT_FLOAT_EQ(storedSlot(126), 2.0f);

    // Rename the program from the keyboard.
    harness_->click(357, kHeaderY);
    for (int i = 0; i < 12; ++i)
        harness_->key("BackSpace");
    harness_->type("Claps");
    harness_->key("Return");
    EXPECT_EQ(plugin_->programName(), "Claps");

    // The pattern menu applies a preset: "Bass Roller 1" is the second entry.
    harness_->click(tabX(3), kTabY);
    harness_->click(325, 125);
    harness_->click(300, itemY(140, 1));
    EXPECT_FLOAT_EQ(storedSlot(125), 5.0f);
    EXPECT_NEAR(storedSlot(320), 0.230003f, 1e-6);
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(EditorTest, HoveringShowsTheNameAndValue) {
    ASSERT_TRUE(harness_->open());
    harness_->move(5, 635);
    const auto without = harness_->grab(kCutoffX, kCutoffY, 200, 40);
    harness_->move(kCutoffX, kCutoffY);
    harness_->idle(20);
    // The tooltip's pale box lies below and right of the pointer.
    EXPECT_TRUE(near(harness_->pixel(kCutoffX + 16, kCutoffY + 20), 250, 245, 214));
    EXPECT_NE(harness_->grab(kCutoffX, kCutoffY, 200, 40), without);
}

}  // namespace

namespace {

TEST_F(EditorTest, MatrixRowFromItsMenusAndAmount) {
    ASSERT_TRUE(harness_->open());
    harness_->click(tabX(2), kTabY);
    // Row 2: source "LFO 1" (code 13), amount dragged right, destination "Pitch Semi" (1).
    harness_->click(105, 135);
    harness_->click(100, itemY(150, 12));
    EXPECT_FLOAT_EQ(storedSlot(129), 13.0f);
    harness_->click(397, 135);
    harness_->click(487, itemY(150, 0));  // the second column starts with "Pitch Semi"
    EXPECT_FLOAT_EQ(storedSlot(193), 1.0f);
    harness_->drag(246, 135, 274, 135);
    EXPECT_NEAR(storedSlot(161), 0.64f, 0.011f);
    // Matrix slots are not host parameters: no gesture reaches the host for them.
    for (const auto& e : plugin_->edits)
        EXPECT_LT(e.index, 111);
}

TEST_F(EditorTest, HostNotesAndPitchBendAreShown) {
    ASSERT_TRUE(harness_->open());
    const int c3 = 21;
    EXPECT_TRUE(near(harness_->pixel(22, 581), 245, 158, 46));  // the bend wheel at rest
    plugin_->sendMidi({{0, {0x90, 60, 100}}, {0, {0xE0, 0x7F, 0x7F}}});
    renderEnergy(1);
    harness_->idle(30);
    EXPECT_TRUE(near(harness_->pixel(whiteKeyX(c3), kWhiteKeyY), 245, 158, 46));
    EXPECT_TRUE(near(harness_->pixel(22, 533), 245, 158, 46));  // bent fully up
    plugin_->sendMidi({{0, {0x80, 60, 0}}, {0, {0xE0, 0x00, 0x40}}});
    renderEnergy(1);
    harness_->idle(30);
    EXPECT_TRUE(near(harness_->pixel(whiteKeyX(c3), kWhiteKeyY), 237, 237, 235));
    EXPECT_TRUE(near(harness_->pixel(22, 581), 245, 158, 46));
}

TEST_F(EditorTest, ProgramChangedByTheHostIsShown) {
    ASSERT_TRUE(harness_->open());
    harness_->move(5, 635);
    const auto first = harness_->grab(450, 104, 64, 48);
    plugin_->setProgram(1);
    harness_->idle(20);
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 40);
    harness_->move(5, 635);
    EXPECT_NE(harness_->grab(450, 104, 64, 48), first);
    plugin_->setProgram(0);
    harness_->idle(30);
    EXPECT_EQ(harness_->grab(450, 104, 64, 48), first);
}

TEST_F(EditorTest, LifecycleCallsInAnyOrder) {
    plugin_->dispatch(vst::effEditClose);  // never opened
    plugin_->dispatch(vst::effEditIdle);
    ASSERT_TRUE(harness_->open());
    ASSERT_TRUE(harness_->open());  // opened again without a close: one window
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 20);
    EXPECT_NEAR(plugin_->getParameter(28), 0.9f, 0.011f);
    harness_->close();
    harness_->close();
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(EditorTest, BrowserFoldersMissingFilesAndExtensions) {
    const fs::path dir = fs::temp_directory_path() / ("crvbrowse" + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    ASSERT_TRUE(harness_->open());
    harness_->click(kFileX, kHeaderY);
    harness_->click(kFileX + 10, itemY(36, 2));  // "Save Patch..."
    harness_->type(dir.string());
    harness_->key("Return");  // a folder: the browser goes there
    harness_->type("noext");
    harness_->key("Return");
    EXPECT_TRUE(fs::exists(dir / "noext.fxp"));  // the extension was added

    // A file that is not there: the browser stays open, and Escape closes it.
    harness_->click(kFileX, kHeaderY);
    harness_->click(kFileX + 10, itemY(36, 1));  // "Load Patch..."
    harness_->type((dir / "missing.fxp").string());
    harness_->key("Return");
    const float cutoff = plugin_->getParameter(28);
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 40);  // under the browser
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), cutoff);
    harness_->key("Escape");
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 40);
    EXPECT_NEAR(plugin_->getParameter(28), cutoff - 0.2f, 0.011f);

    // The browser lists the folder it last used: the saved file, double-clicked, loads.
    harness_->click(kFileX, kHeaderY);
    harness_->click(kFileX + 10, itemY(36, 1));
    harness_->move(300, 170 + 18 + 9);  // second row: "noext.fxp" after the folder "sub/"
    harness_->press();
    harness_->release();
    harness_->press();
    harness_->release();
    EXPECT_EQ(plugin_->programName(), "noext");
    EXPECT_NEAR(plugin_->getParameter(28), cutoff, 1e-6);
    fs::remove_all(dir);
}

}  // namespace

namespace {

TEST(EditorOwnHost, WheelMessagesMoveTheControlUnderThePointer) {
    Xvfb xvfb;
    ASSERT_TRUE(xvfb.ok());
    corvane::testhost::HostOptions options;
    options.vendor = "Tessel Audio";  // only the own host sends its wheel this way
    std::string error;
    auto plugin = Plugin::load(CORVANE_SO_PATH, &error, options);
    ASSERT_TRUE(plugin) << error;
    plugin->start(44100.0, 512);
    EditorHarness harness(*plugin);
    ASSERT_TRUE(harness.open());
    harness.move(kResonanceX, kResonanceY);
    const intptr_t position = (intptr_t{kResonanceY} << 16) | kResonanceX;
    const int32_t whee = vst::fourCC('W', 'h', 'e', 'e');
    EXPECT_EQ(plugin->dispatch(vst::effVendorSpecific, whee, position, nullptr, 1.0f), 0);
    EXPECT_EQ(plugin->dispatch(vst::effVendorSpecific, whee, position, nullptr, 1.0f), 0);
    EXPECT_NEAR(plugin->getParameter(29), 0.02f, 1e-4);
    plugin->dispatch(vst::effVendorSpecific, whee, position, nullptr, -1.0f);
    EXPECT_NEAR(plugin->getParameter(29), 0.01f, 1e-4);
    harness.close();
}

}  // namespace

namespace {

TEST_F(EditorTest, SaveBankAndLoadItBack) {
    const fs::path dir = fs::temp_directory_path() / ("crvbank" + std::to_string(getpid()));
    fs::create_directories(dir);
    ASSERT_TRUE(harness_->open());
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 50);
    const float saved = plugin_->getParameter(28);
    harness_->click(kFileX, kHeaderY);
    harness_->click(kFileX + 10, itemY(36, 4));  // "Save Bank..."
    harness_->type((dir / "mybank").string());
    harness_->key("Return");
    ASSERT_TRUE(fs::exists(dir / "mybank.fxb"));

    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY - 50);
    EXPECT_NE(plugin_->getParameter(28), saved);
    harness_->click(kFileX, kHeaderY);
    harness_->click(kFileX + 10, itemY(36, 3));  // "Load Bank..."
    harness_->type((dir / "mybank.fxb").string());
    harness_->key("Return");
    EXPECT_FLOAT_EQ(plugin_->getParameter(28), saved);
    // The knob shows the loaded value: dragging it on starts from there.
    harness_->drag(kCutoffX, kCutoffY, kCutoffX, kCutoffY + 10);
    EXPECT_NEAR(plugin_->getParameter(28), saved - 0.05f, 0.011f);
    fs::remove_all(dir);
}

}  // namespace

namespace {

TEST_F(EditorTest, EditingANoteLaneStepChangesTheArpeggiatedNotes) {
    auto render = [&](bool edit, std::vector<float>& left) {
        ASSERT_TRUE(harness_->open());
        harness_->dropFile(kHandclap);
        plugin_->setParameter(115, 1.0f);  // arpeggiator on, the init patch's pattern
        if (edit) {
            harness_->click(tabX(3), kTabY);
            harness_->click(static_cast<int>(60 + 12), 222);  // step 1: two octaves up
            EXPECT_EQ(static_cast<int>(storedSlot(256) * 128), 25);
        }
        std::vector<float> right;
        plugin_->render(44100, 512, {{0, {0x90, 48, 100}}}, left, right);
    };
    std::vector<float> a, b;
    render(false, a);
    harness_.reset();
    std::string error;
    plugin_ = Plugin::load(CORVANE_SO_PATH, &error);
    ASSERT_TRUE(plugin_) << error;
    plugin_->start(44100.0, 512);
    harness_ = std::make_unique<EditorHarness>(*plugin_);
    render(true, b);
    ASSERT_EQ(a.size(), b.size());
    double diff = 0, sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        diff += std::fabs(a[i] - b[i]);
        sum += std::fabs(a[i]);
    }
    EXPECT_GT(sum, 1.0);          // the pattern plays
    EXPECT_GT(diff, 0.05 * sum);  // and the edited step plays another note
}

}  // namespace

namespace {

// Names as long as a program name can be: the 128 of them no longer fit the window side by
// side, and the program menu turns pages instead.
TEST_F(EditorTest, EveryProgramIsReachableWhenTheNamesAreLong) {
    for (int i = 0; i < 128; ++i) {
        plugin_->setProgram(i);
        char name[32];
        std::snprintf(name, sizeof name, "A rather long program name #%03d", i + 1);
        ASSERT_EQ(std::strlen(name), 31u);
        plugin_->dispatch(vst::effSetProgramName, 0, 0, name);
    }
    plugin_->setProgram(0);
    ASSERT_TRUE(harness_->open());
    // A page: 64 programs in three columns of 26 rows (276 pixels wide), then the entry
    // that turns the page.
    const int thirdColumn = 10 + 2 * 276 + 40;
    harness_->click(kProgramX, kHeaderY);
    harness_->click(thirdColumn, itemY(36, 11));  // the 64th program
    EXPECT_EQ(plugin_->program(), 63);
    harness_->click(kProgramX, kHeaderY);
    harness_->click(thirdColumn, itemY(36, 12));  // "Programs 065-128 >>"
    harness_->click(thirdColumn, itemY(36, 11));  // the last program
    EXPECT_EQ(plugin_->program(), 127);
    // The menu opens on the page of the current program.
    harness_->click(kProgramX, kHeaderY);
    harness_->click(40, itemY(36, 0));
    EXPECT_EQ(plugin_->program(), 64);
    harness_->click(kProgramX, kHeaderY);
    harness_->click(thirdColumn, itemY(36, 12));  // "<< Programs 001-064"
    harness_->click(40, itemY(36, 5));
    EXPECT_EQ(plugin_->program(), 5);
    EXPECT_EQ(plugin_->programName(), "A rather long program name #006");

    // Short names all fit on one page: the last program sits in the fifth column.
    plugin_->dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>("Short"));
    plugin_->setProgram(127);
    plugin_->dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>("Short"));
    for (int i = 0; i < 128; ++i) {
        if (i == 5 || i == 127) continue;
        plugin_->setProgram(i);
        plugin_->dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>("Init"));
    }
    plugin_->setProgram(0);
    harness_->click(kProgramX, kHeaderY);
    // "%03d Short" is the longest item: columns of 24 + 7.2 x 9 pixels.
    harness_->click(static_cast<int>(10 + 4 * 88.8 + 20), itemY(36, 127 - 4 * 26));
    EXPECT_EQ(plugin_->program(), 127);
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(EditorTest, PitchWheelDragBendsTheNoteAndSpringsBack) {
    // 0: no bend; 1: the wheel held fully up while the note plays; 2: the wheel pushed up
    // and let go before the note.
    auto render = [&](int mode, std::vector<float>& left) {
        ASSERT_TRUE(harness_->open());
        ASSERT_TRUE(harness_->dropFile(kHandclap));
        plugin_->edits.clear();
        if (mode > 0) {
            harness_->move(22, 581);  // the wheel's handle at rest
            harness_->press();
            harness_->move(22, 560);
            harness_->move(22, 530);  // half the wheel's height up: the whole bend
            harness_->idle(30);
            EXPECT_TRUE(near(harness_->pixel(22, 533), 245, 158, 46));  // drawn at the top
            EXPECT_FALSE(near(harness_->pixel(22, 581), 245, 158, 46));
            if (mode == 2) {
                harness_->release();
                harness_->idle(30);
                EXPECT_TRUE(near(harness_->pixel(22, 581), 245, 158, 46));  // back
                EXPECT_FALSE(near(harness_->pixel(22, 533), 245, 158, 46));
            }
        }
        std::vector<float> right;
        plugin_->render(44100, 512, {}, left, right);  // the wheel settles
        left.clear();
        plugin_->render(22050, 512, {{0, {0x90, 60, 100}}}, left, right);
        if (mode == 1) harness_->release();
        // The wheel is no host parameter: the host is asked to record nothing.
        EXPECT_TRUE(plugin_->edits.empty());
    };
    auto fresh = [&] {
        harness_.reset();
        std::string error;
        plugin_ = Plugin::load(CORVANE_SO_PATH, &error);
        ASSERT_TRUE(plugin_) << error;
        plugin_->start(44100.0, 512);
        harness_ = std::make_unique<EditorHarness>(*plugin_);
    };
    std::vector<float> plain, bent, released;
    render(0, plain);
    fresh();
    render(1, bent);
    fresh();
    render(2, released);
    ASSERT_EQ(plain.size(), bent.size());
    ASSERT_EQ(plain.size(), released.size());
    double sum = 0, bentDiff = 0, releasedDiff = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        sum += std::fabs(plain[i]);
        bentDiff += std::fabs(plain[i] - bent[i]);
        releasedDiff += std::fabs(plain[i] - released[i]);
    }
    EXPECT_GT(sum, 1.0);
    EXPECT_GT(bentDiff, 0.2 * sum);       // played higher
    EXPECT_LT(releasedDiff, 1e-3 * sum);  // the wheel went back to the centre
    EXPECT_EQ(harness_->errors(), 0);
}

}  // namespace

namespace {

// Program names are bytes (patch files from other systems carry Latin-1 and worse): one that
// is not UTF-8 is drawn with replacement characters and the rest of the window still is.
TEST_F(EditorTest, NamesThatAreNotUtf8LeaveTheWindowDrawn) {
    ASSERT_TRUE(harness_->open());
    harness_->move(5, 635);
    harness_->idle(20);
    const auto keys = harness_->grab(74, 530, 876, 102);
    plugin_->dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>("Caf\xE9 \xFF\xC3"));
    harness_->idle(30);
    EXPECT_EQ(harness_->grab(74, 530, 876, 102), keys);  // painted after the header
    EXPECT_TRUE(near(harness_->pixel(480, 74), 33, 37, 41));
    EXPECT_EQ(harness_->errors(), 0);
}

}  // namespace

// The entries of the editor's list menus: each entry's value reads back as that entry under
// the display rules, and the coded menus keep their labels and codes in menu order.
#include <gtest/gtest.h>

#include <cmath>

#include "editor/Lists.h"
#include "editor/UriList.h"
#include "patch/ParamInfo.h"

using namespace corvane;
using namespace corvane::editor;

TEST(EditorLists, ScaledEntriesReadBackAsThemselves) {
    // Slot, entry count, and the display's own reading of the value (int(v x scale)).
    const struct {
        int slot;
        size_t count;
        double scale;
    } lists[] = {{33, 4, 3.0}, {42, 4, 3.0}, {51, 4, 3.0},   {79, 7, 6.1},  {85, 8, 8.0},
                 {91, 5, 4.0}, {97, 9, 8.0}, {101, 3, 2.01}, {106, 3, 2.01}};
    for (const auto& l : lists) {
        const std::vector<ListEntry> entries = listEntriesOf(l.slot);
        ASSERT_EQ(entries.size(), l.count) << "slot " << l.slot;
        for (size_t i = 0; i < entries.size(); ++i) {
            const float v = entries[i].value;
            EXPECT_GE(v, 0.0f);
            EXPECT_LE(v, 1.0f);
            EXPECT_EQ(static_cast<int>(static_cast<double>(v) * l.scale), static_cast<int>(i))
                << "slot " << l.slot << " entry " << i;
            EXPECT_EQ(entryIndexOf(entries, v), static_cast<int>(i));
        }
    }
    // The labels are the display texts.
    const std::vector<ListEntry> dist = listEntriesOf(97);
    EXPECT_EQ(dist.front().label, "LP+Crunch");
    EXPECT_EQ(dist.back().label, "LP+Clip");
    EXPECT_EQ(dist.back().value, 1.0f);
    EXPECT_EQ(listEntriesOf(33)[3].label, "S+H");
    EXPECT_EQ(listEntriesOf(91)[4].label, "Cathedral");
}

TEST(EditorLists, StoredValuesFindTheNearestEntry) {
    const std::vector<ListEntry> shapes = listEntriesOf(33);
    EXPECT_EQ(entryIndexOf(shapes, 0.6666667f), 2);  // the init patch's "Sine"
    EXPECT_EQ(entryIndexOf(shapes, 5.0f), 3);        // out of range: the nearest end
    EXPECT_EQ(entryIndexOf(shapes, -1.0f), 0);
    EXPECT_EQ(entryIndexOf(shapes, std::nanf("")), -1);
    EXPECT_EQ(entryIndexOf({}, 0.5f), -1);
    EXPECT_TRUE(listEntriesOf(28).empty());  // a knob, not a list
}

TEST(EditorLists, MatrixAndArpeggiatorMenusInTheirOrder) {
    const auto& src = matrixSources();
    ASSERT_EQ(src.size(), 24u);
    EXPECT_EQ(src[6].label, "Const");
    EXPECT_EQ(src[6].value, 7.0f);
    EXPECT_EQ(src[7].label, "Random");
    EXPECT_EQ(src[7].value, 6.0f);
    EXPECT_EQ(src[23].label, "Amp Env");
    EXPECT_EQ(src[23].value, 22.0f);
    const auto& dst = matrixDestinations();
    ASSERT_EQ(dst.size(), 32u);
    EXPECT_EQ(dst[4].label, "Mod Relase");
    EXPECT_EQ(dst[14].label, "Amp Hold");
    EXPECT_EQ(dst[14].value, 31.0f);
    EXPECT_EQ(dst[31].label, "Volume");
    EXPECT_EQ(dst[31].value, 3.0f);
    // The stored matrix code of the init patch (1.000001) is "Velocity".
    EXPECT_EQ(entryIndexOf(listEntriesOf(128), 1.000001f), 1);
    EXPECT_EQ(entryIndexOf(listEntriesOf(192), 3.000001f), 31);

    const auto& modes = arpModes();
    const char* order[6] = {"Mode: Chord",      "Mode: Duophonic", "Mode: Dynamic",
                            "Mode: Modulation", "Mode: Simple",    "Mode: One Shot"};
    const float codes[6] = {3, 6, 5, 4, 0, 2};
    ASSERT_EQ(modes.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(modes[i].label, order[i]);
        EXPECT_EQ(modes[i].value, codes[i]);
    }
    EXPECT_STREQ(arpSyncedRateName(0.0f), "1/2*");
    EXPECT_STREQ(arpSyncedRateName(1.0f), "1/128T");
    EXPECT_STREQ(arpSyncedRateName(std::nanf("")), "1/2*");
}

TEST(EditorDrops, FirstLocalFileOfAUriList) {
    auto first = [](const std::string& s) { return firstPathOfUriList(s.data(), s.size()); };
    EXPECT_EQ(first("file:///home/u/My%20Kit.sfz\r\n"), "/home/u/My Kit.sfz");
    EXPECT_EQ(first("# comment\r\nhttp://x/y.sfz\r\nfile://host/a/b.sfz\r\nfile:///c.sfz"),
              "/a/b.sfz");
    EXPECT_EQ(first("file:///a%2"), "/a%2");               // a cut escape stays as it is
    EXPECT_EQ(first("file:///a%zz"), "/a%zz");             // so does one that is not hex
    EXPECT_EQ(first("file:///a%00b\nfile:///ok"), "/ok");  // no zero bytes in a path
    EXPECT_EQ(first("file://nohost"), "");
    EXPECT_EQ(first(""), "");
    EXPECT_EQ(firstPathOfUriList(nullptr, 5), "");
}

#include <gtest/gtest.h>

#include "content/SampleMap.h"

using corvane::SampleMap;

TEST(SampleMap, LaterZoneWinsAndUncoveredKeyFindsNothing) {
    SampleMap map;
    ASSERT_TRUE(map.beginZones(2));
    map.appendZone()->loKey = 40;
    map.appendZone()->loKey = 50;
    EXPECT_EQ(map.findZone(60, 100), &map.zones[1]);
    EXPECT_EQ(map.findZone(45, 100), &map.zones[0]);
    EXPECT_EQ(map.findZone(30, 100), nullptr);
    EXPECT_EQ(map.appendZone(), nullptr);  // the array never grows
}

TEST(SampleMap, KeyMapClampsToItsRangeAndSkipsInvertedZones) {
    SampleMap map;
    corvane::SampleZone z;
    z.loKey = 0;
    z.hiKey = 20;
    map.markKeys(z);
    EXPECT_EQ(map.keyMap[0], 1);
    EXPECT_EQ(map.keyMap[1], 0);
    z.loKey = 90;
    z.hiKey = 100;
    map.markKeys(z);
    EXPECT_EQ(map.keyMap[59], 1);
    map.clearKeyMap();
    z.loKey = 60;
    z.hiKey = 50;
    map.markKeys(z);
    for (uint8_t k : map.keyMap)
        EXPECT_EQ(k, 0);
}

TEST(SampleMap, QuarterNoteSliceAt120BpmLasts22050Frames) {
    SampleMap map;
    ASSERT_TRUE(map.beginZones(3));
    map.appendZone()->slicePosition = 0;
    map.appendZone()->slicePosition = 15360;
    corvane::SampleZone* trigger = map.appendZone();
    trigger->slicePosition = 15360 * 3;
    trigger->isLoopTrigger = 1;
    map.sliceCount = 2;
    EXPECT_EQ(map.sliceDurationSamples(*trigger, 0, 120.0), 22050);
    EXPECT_EQ(map.sliceDurationSamples(*trigger, 1, 120.0), 44100);  // runs to the loop end
}

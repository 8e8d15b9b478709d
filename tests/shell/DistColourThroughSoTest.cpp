// "FX Dist Colour" shows the corner of the filter each distortion type actually runs: a
// low-pass from 100 Hz to 20 kHz for the even types, a high-pass from 1 Hz to 2 kHz for the
// odd ones. Values worked by hand: 100 * 200^0.5 = 1414.2, 2000^0.5 = 44.72,
// 100 * 200^0.25 = 376.06, 2000^0.25 = 6.687.
#include <gtest/gtest.h>

#include <string>

#include "TestHost.h"

using corvane::testhost::Plugin;

TEST(DistColourThroughSo, DisplayFollowsTheFilterOfEveryType) {
    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error);
    ASSERT_TRUE(p) << error;
    p->start(44100.0, 256);
    for (int type = 0; type < 9; ++type) {
        p->setParameter(97, type / 8.0f);
        const bool lowpass = type % 2 == 0;
        p->setParameter(98, 0.5f);
        EXPECT_EQ(p->paramDisplay(98), lowpass ? "1414 Hz" : "44 Hz") << type;
        p->setParameter(98, 0.25f);
        EXPECT_EQ(p->paramDisplay(98), lowpass ? "376 Hz" : "6 Hz") << type;
        p->setParameter(98, 0.0f);
        EXPECT_EQ(p->paramDisplay(98), lowpass ? "100 Hz" : "1 Hz") << type;
    }
}

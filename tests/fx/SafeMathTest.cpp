// The NaN-safe conversions map every float, NaN and infinities included, into range.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/SafeMath.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(SafeMath, UnitClampSendsNaNAndMinusInfinityToZero) {
    EXPECT_EQ(dsp::unitClamp(kNaN), 0.0f);
    EXPECT_EQ(dsp::unitClamp(-kNaN), 0.0f);
    EXPECT_EQ(dsp::unitClamp(-kInf), 0.0f);
    EXPECT_EQ(dsp::unitClamp(kInf), 1.0f);
    EXPECT_EQ(dsp::unitClamp(-1.0f), 0.0f);
    EXPECT_EQ(dsp::unitClamp(2.0f), 1.0f);
    EXPECT_EQ(dsp::unitClamp(0.25f), 0.25f);
    EXPECT_EQ(dsp::unitClamp(std::nan("")), 0.0);
    EXPECT_EQ(dsp::safeClamp(kNaN, -3.0f, 3.0f), -3.0f);
}

TEST(SafeMath, ToIndexStaysInsideTheTable) {
    EXPECT_EQ(dsp::toIndex(kNaN, 21), 0);
    EXPECT_EQ(dsp::toIndex(-kInf, 21), 0);
    EXPECT_EQ(dsp::toIndex(kInf, 21), 20);
    EXPECT_EQ(dsp::toIndex(-0.5f, 21), 0);
    EXPECT_EQ(dsp::toIndex(1e30f, 21), 20);
    EXPECT_EQ(dsp::toIndex(20.001f, 21), 20);
    EXPECT_EQ(dsp::toIndex(7.99f, 21), 7);
    EXPECT_EQ(dsp::toIndex(0.5 * 20.001, 21), 10);
    EXPECT_EQ(dsp::toIndex(3.0f, 1), 0);
    EXPECT_EQ(dsp::truncClamp(kNaN, -8192, 8192), -8192);
    EXPECT_EQ(dsp::truncClamp(-1e30f, -8192, 8192), -8192);
    EXPECT_EQ(dsp::truncClamp(kInf, -8192, 8192), 8192);
    EXPECT_EQ(dsp::truncClamp(-2.9f, -8192, 8192), -2);
}

TEST(SafeMath, FiniteOrAndFlushSmall) {
    EXPECT_EQ(dsp::finiteOr(kNaN, 0.5f), 0.5f);
    EXPECT_EQ(dsp::finiteOr(-kInf, 0.5f), 0.5f);
    EXPECT_EQ(dsp::finiteOr(0.75f, 0.5f), 0.75f);
    EXPECT_EQ(dsp::flushSmall(-7e-44f), 0.0f);
    EXPECT_EQ(dsp::flushSmall(9.9e-10f), 0.0f);
    EXPECT_EQ(dsp::flushSmall(1e-9f), 1e-9f);
    EXPECT_EQ(dsp::flushSmall(-0.5), -0.5);
}

}  // namespace

// The speed tables built from stored points, read back through the lookup and compared bit for
// bit: the curve is defined by its single-precision steps.
#include "profile/speed_profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <utility>

#include "tests/support/test_support.h"

namespace {

using Points = std::array<int, Setting::kProfilePointsPerSide>;
constexpr int kPos = 0;  // the table for non-negative motion
constexpr int kNeg = 1;
constexpr Points kSimulation = kSpeedProfileTemplates[1].points;
constexpr float kLevelZero = 0.28776979f;  // 40/139, the factor of stored value 220

class SpeedProfile : public ::testing::Test {
protected:
    void Write(int axis, int side, const Points& points) {
        for (int i = 0; i < Setting::kProfilePointsPerSide; ++i)
            ASSERT_TRUE(
                m_store.Write(Setting::kProfilePoints[axis][side * Setting::kProfilePointsPerSide + i], points[i]));
    }
    // Entry 0 of the negative table is not reachable through the lookup.
    float Entry(unsigned axis, int side, int entry) const {
        return m_profile.GetSpeedFactor(axis, side == kNeg ? -entry : entry);
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSpeedProfile m_profile{m_store};
};

// The tables below pin the curve at whole levels; this is the seam between its two branches.
TEST(LevelToFactor, RisesTowardsFortyOverThirtyNineJustBelowAHundredThenRestartsAtOne) {
    EXPECT_EQ(LevelToFactor(99), 1.0);
    EXPECT_GT(LevelToFactor(99.5), 1.0);
    EXPECT_LT(LevelToFactor(99.999), 40.0 / 39.0);
    EXPECT_EQ(LevelToFactor(100), 1.0);
}

TEST_F(SpeedProfile, FactorsAreOneUntilPointsAreStoredAndTheTablesRebuilt) {
    for (int build = 0; build < 2; ++build, m_profile.BuildSpeedTables())
        for (unsigned axis = 0; axis < 2; ++axis)
            for (int index = -100; index <= 100; ++index)
                ASSERT_EQ(m_profile.GetSpeedFactor(axis, index), 1.0f) << build << " " << axis << " " << index;
    Write(1, kNeg, kSimulation);
    EXPECT_EQ(m_profile.GetSpeedFactor(1, -80), 1.0f) << "not rebuilt yet";
    m_profile.BuildSpeedTables();
    EXPECT_EQ(m_profile.GetSpeedFactor(1, -80), 1.55f);
    Write(1, kNeg, kSpeedProfileTemplates[0].points);  // all 120, the "mouse" template
    m_profile.BuildSpeedTables();
    EXPECT_EQ(m_profile.GetSpeedFactor(1, -80), 1.0f);
}

TEST_F(SpeedProfile, StoredValuesOutsideTheEditorRangeAreUsedUnchecked) {
    Write(0, kPos, {300, 300, 120, 120, 120, 120, -100, -100});
    Write(1, kPos, {INT_MIN, INT_MIN, 120, 120, 120, 120, INT_MAX, INT_MAX});
    m_profile.BuildSpeedTables();
    for (int entry = 0; entry < 20; ++entry) EXPECT_EQ(Entry(0, kPos, entry), 0.18264840f) << entry;
    for (int entry = 70; entry <= 80; ++entry) EXPECT_EQ(Entry(0, kPos, entry), 6.5f) << entry;
    // The extremes of a hand-edited file still give finite, positive factors.
    for (int entry = 0; entry <= 80; ++entry) {
        const float factor = Entry(1, kPos, entry);
        EXPECT_TRUE(std::isfinite(factor) && factor > 0.0f) << entry << ": " << factor;
    }
}

// The other side of axis 0 holds a curve of its own, so that the sides are told apart.
TEST_F(SpeedProfile, SimulationTemplateGivesTheExactSinglePrecisionFactorsAndTheLookupClampsTheIndex) {
    Write(0, kPos, kSimulation);
    Write(0, kNeg, {20, 20, 20, 20, 20, 20, 20, -100});
    Write(1, kNeg, kSimulation);
    m_profile.BuildSpeedTables();
    // clang-format off
    const std::pair<int, float> expected[] = {
        {1, kLevelZero},     {10, kLevelZero},    {15, 0.29411766f}, {19, 0.29940119f},
        {20, 0.30075186f},   {30, 0.40404040f},   {60, 1.0f},        {70, 1.5f},
        {79, 1.5449994f},  // the accumulated position, not 1.545
        {80, 1.55f}};
    // clang-format on
    for (auto [axis, side] : {std::pair{0u, kPos}, std::pair{1u, kNeg}})
        for (auto [entry, factor] : expected) EXPECT_EQ(Entry(axis, side, entry), factor) << axis << " " << entry;
    EXPECT_EQ(Entry(1, kPos, 0), 1.0f) << "a table not stored keeps the default";
    EXPECT_EQ(m_profile.GetSpeedFactor(0, 0), kLevelZero);
    EXPECT_EQ(m_profile.GetSpeedFactor(0, -1), 3.5f);
    EXPECT_NE(m_profile.GetSpeedFactor(0, -79), 6.5f);
    for (int index : {80, 81, 100000, INT_MAX}) EXPECT_EQ(m_profile.GetSpeedFactor(0, index), 1.55f) << index;
    for (int index : {-80, -81, -100000, INT_MIN}) EXPECT_EQ(m_profile.GetSpeedFactor(0, index), 6.5f) << index;
    for (unsigned axis : {2u, 3u, UINT_MAX})
        for (int index : {INT_MIN, -80, -1, 0, 1, 80, INT_MAX})
            EXPECT_EQ(m_profile.GetSpeedFactor(axis, index), 0.0f) << axis << " " << index;
}

}  // namespace

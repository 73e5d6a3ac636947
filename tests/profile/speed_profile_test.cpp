#include "speed_profile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <thread>
#include <utility>

#include "test_support.h"

namespace {

using Points = std::array<int, Setting::kProfilePointsPerSide>;
constexpr int kNonNegative = 0;
constexpr int kNegative = 1;
constexpr Points kSimulation = kSpeedProfileTemplates[1].points;

class SpeedProfileTest : public ::testing::Test {
protected:
    void WriteSide(int axis, int side, const Points& points) {
        for (int i = 0; i < Setting::kProfilePointsPerSide; ++i)
            ASSERT_TRUE(m_store.Write(
                Setting::kProfilePoints[axis][side * Setting::kProfilePointsPerSide + i], points[i]));
    }
    // Entry of one table through the lookup (entry 0 of the negative table is not reachable).
    float Entry(unsigned axis, int side, int entry) const {
        return m_profile.GetSpeedFactor(axis, side == kNegative ? -entry : entry);
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSpeedProfile m_profile{m_store};
};

TEST(LevelToFactor, MeetsItsFixedPoints) {
    EXPECT_EQ(LevelToFactor(100), 1.0);
    EXPECT_EQ(LevelToFactor(200), 3.5);
    EXPECT_EQ(LevelToFactor(99), 1.0);
    EXPECT_NEAR(LevelToFactor(50), 0.449438, 1e-6);
    EXPECT_EQ(static_cast<float>(LevelToFactor(0)), 0.28776979f);
    // Just below 100 the lower branch rises towards 40/39 before the upper one takes over.
    EXPECT_GT(LevelToFactor(99.5), 1.0);
    EXPECT_LT(LevelToFactor(99.999), 40.0 / 39.0);
}

TEST_F(SpeedProfileTest, WithoutStoredPointsEveryFactorIsExactlyOne) {
    for (unsigned axis = 0; axis < 2; ++axis)
        for (int index = -100; index <= 100; ++index)
            ASSERT_EQ(m_profile.GetSpeedFactor(axis, index), 1.0f) << "before the first build";
    m_profile.BuildSpeedTables();
    for (unsigned axis = 0; axis < 2; ++axis)
        for (int index = -100; index <= 100; ++index)
            ASSERT_EQ(m_profile.GetSpeedFactor(axis, index), 1.0f) << "axis " << axis << " index " << index;
}

TEST_F(SpeedProfileTest, SimulationTemplateGivesTheExactSinglePrecisionFactors) {
    WriteSide(0, kNonNegative, kSimulation);
    WriteSide(1, kNegative, kSimulation);
    m_profile.BuildSpeedTables();
    for (auto [axis, side] : {std::pair{0u, kNonNegative}, std::pair{1u, kNegative}}) {
        SCOPED_TRACE(testing::Message() << "axis " << axis << " side " << side);
        for (int entry = side == kNegative ? 1 : 0; entry <= 10; ++entry)
            EXPECT_EQ(Entry(axis, side, entry), 0.28776979f) << entry;
        EXPECT_EQ(Entry(axis, side, 15), 0.29411766f);
        EXPECT_EQ(Entry(axis, side, 19), 0.29940119f);
        EXPECT_EQ(Entry(axis, side, 20), 0.30075186f);
        EXPECT_EQ(Entry(axis, side, 30), 0.40404040f);
        EXPECT_EQ(Entry(axis, side, 60), 1.0f);
        EXPECT_EQ(Entry(axis, side, 70), 1.5f);
        EXPECT_EQ(Entry(axis, side, 79), 1.5449994f);  // the accumulated position, not 1.545
        EXPECT_EQ(Entry(axis, side, 80), 1.55f);
    }
    // The other two tables keep the defaults.
    EXPECT_EQ(Entry(0, kNegative, 1), 1.0f);
    EXPECT_EQ(Entry(1, kNonNegative, 0), 1.0f);
}

TEST_F(SpeedProfileTest, EachPointKeyFeedsItsOwnTable) {
    WriteSide(0, kNonNegative, {220, 120, 120, 120, 120, 120, 120, 120});
    WriteSide(0, kNegative, {20, 120, 120, 120, 120, 120, 120, 70});
    WriteSide(1, kNonNegative, {170, 120, 120, 120, 120, 120, 120, 20});
    WriteSide(1, kNegative, {70, 120, 120, 120, 120, 120, 120, 220});
    m_profile.BuildSpeedTables();
    EXPECT_EQ(Entry(0, kNonNegative, 5), 0.28776979f);
    EXPECT_EQ(Entry(0, kNegative, 5), 3.5f);
    EXPECT_EQ(Entry(1, kNonNegative, 5), static_cast<float>(40.0 / 89.0));
    EXPECT_EQ(Entry(1, kNegative, 5), 2.25f);
    EXPECT_EQ(Entry(0, kNonNegative, 80), 1.0f);
    EXPECT_EQ(Entry(0, kNegative, 80), 2.25f);
    EXPECT_EQ(Entry(1, kNonNegative, 80), 3.5f);
    EXPECT_EQ(Entry(1, kNegative, 80), 0.28776979f);
}

TEST_F(SpeedProfileTest, EqualPointsFillTheirSegmentWithOneValue) {
    WriteSide(0, kNonNegative, {120, 60, 60, 120, 120, 120, 120, 120});
    m_profile.BuildSpeedTables();
    // Entries 20..29 run from point 2 to point 3; entry 30 is point 3 itself.
    for (int entry = 20; entry <= 30; ++entry) EXPECT_EQ(Entry(0, kNonNegative, entry), 2.5f) << entry;
    EXPECT_GT(Entry(0, kNonNegative, 19), Entry(0, kNonNegative, 11));  // rising towards point 2
    EXPECT_LT(Entry(0, kNonNegative, 31), 2.5f);                        // falling towards point 4
}

TEST_F(SpeedProfileTest, StoredValuesOutsideTheEditorRangeAreUsedUnchecked) {
    WriteSide(0, kNonNegative, {300, 300, 120, 120, 120, 120, -100, -100});
    WriteSide(1, kNonNegative, {INT_MIN, INT_MIN, 120, 120, 120, 120, INT_MAX, INT_MAX});
    m_profile.BuildSpeedTables();
    for (int entry = 0; entry < 20; ++entry) EXPECT_EQ(Entry(0, kNonNegative, entry), 0.18264840f) << entry;
    for (int entry = 70; entry <= 80; ++entry) EXPECT_EQ(Entry(0, kNonNegative, entry), 6.5f) << entry;
    // The extremes of a hand-edited file still give finite, positive factors.
    for (int entry = 0; entry <= 80; ++entry) {
        const float factor = Entry(1, kNonNegative, entry);
        EXPECT_TRUE(std::isfinite(factor) && factor > 0.0f) << entry << ": " << factor;
    }
}

TEST_F(SpeedProfileTest, TablesChangeOnlyWhenRebuilt) {
    m_profile.BuildSpeedTables();
    WriteSide(1, kNegative, kSimulation);
    EXPECT_EQ(m_profile.GetSpeedFactor(1, -80), 1.0f);
    m_profile.BuildSpeedTables();
    EXPECT_EQ(m_profile.GetSpeedFactor(1, -80), 1.55f);
    WriteSide(1, kNegative, kSpeedProfileTemplates[0].points);
    m_profile.BuildSpeedTables();
    EXPECT_EQ(m_profile.GetSpeedFactor(1, -80), 1.0f);
}

TEST_F(SpeedProfileTest, LookupClampsTheIndexAndKeepsTheSidesApart) {
    WriteSide(0, kNonNegative, kSimulation);
    WriteSide(0, kNegative, {20, 20, 20, 20, 20, 20, 20, -100});
    m_profile.BuildSpeedTables();
    EXPECT_EQ(m_profile.GetSpeedFactor(0, 0), 0.28776979f);
    EXPECT_EQ(m_profile.GetSpeedFactor(0, 1), 0.28776979f);
    EXPECT_EQ(m_profile.GetSpeedFactor(0, -1), 3.5f);
    for (int index : {80, 81, 100000, INT_MAX})
        EXPECT_EQ(m_profile.GetSpeedFactor(0, index), 1.55f) << index;
    for (int index : {-80, -81, -100000, INT_MIN})
        EXPECT_EQ(m_profile.GetSpeedFactor(0, index), 6.5f) << index;
    EXPECT_NE(m_profile.GetSpeedFactor(0, -79), 6.5f);
}

TEST_F(SpeedProfileTest, UnknownAxisGivesZero) {
    WriteSide(0, kNonNegative, kSimulation);
    m_profile.BuildSpeedTables();
    for (unsigned axis : {2u, 3u, UINT_MAX})
        for (int index : {INT_MIN, -80, -1, 0, 1, 80, INT_MAX})
            EXPECT_EQ(m_profile.GetSpeedFactor(axis, index), 0.0f) << axis << " " << index;
}

// A frame processed during a rebuild may mix old and new entries, but each one it reads is whole.
TEST_F(SpeedProfileTest, LookupDuringRebuildSeesOnlyOldOrNewEntries) {
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            for (int index = -80; index <= 80; ++index) {
                const float f = m_profile.GetSpeedFactor(0, index);
                if (f != 1.0f && f != 3.5f) torn.fetch_add(1);
            }
        }
    });
    for (int round = 0; round < 20; ++round) {
        const int stored = round % 2 ? 20 : 120;
        WriteSide(0, kNonNegative, {stored, stored, stored, stored, stored, stored, stored, stored});
        WriteSide(0, kNegative, {stored, stored, stored, stored, stored, stored, stored, stored});
        m_profile.BuildSpeedTables();
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST(SpeedProfileTemplates, HoldTheEditorsListsAndValues) {
    ASSERT_EQ(kSpeedProfileTemplates.size(), 2u);
    EXPECT_STREQ(kSpeedProfileTemplates[0].name, "mouse");
    EXPECT_EQ(kSpeedProfileTemplates[0].points, (Points{120, 120, 120, 120, 120, 120, 120, 120}));
    EXPECT_STREQ(kSpeedProfileTemplates[1].name, "simulation/game");
    EXPECT_EQ(kSpeedProfileTemplates[1].points, (Points{220, 214, 180, 160, 140, 120, 100, 98}));
    EXPECT_STREQ(kSpeedProfileAxisNames[0], "left <-> right");
    EXPECT_STREQ(kSpeedProfileAxisNames[1], "up   <-> down ");
}

}  // namespace

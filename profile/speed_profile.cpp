#include "profile/speed_profile.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr int kPoints = Setting::kProfilePointsPerSide;
constexpr int kEntriesPerSegment = 10;
constexpr std::int64_t kLevelBase = 220;  // the stored value of level 0

// Stored values come from the file unchecked, so the level is formed in 64 bits: 220 - INT_MIN
// would overflow an int.
std::int64_t LevelOf(int stored) { return kLevelBase - stored; }

}  // namespace

double LevelToFactor(double level) {
    if (level >= 100.0) return (level - 60.0) / 40.0;
    // Only reached below 100, where 139 - level stays above 39: never a division by zero.
    return 1.0 / ((139.0 - level) / 40.0);
}

CSpeedProfile::CSpeedProfile(const CSettingsStore& store) : m_store(store) {
    for (auto& axis : m_tables)
        for (Table& table : axis)
            for (int entry = 0; entry < kFilledEntries; ++entry) table[entry].store(1.0f, std::memory_order_relaxed);
}

void CSpeedProfile::BuildSpeedTables() {
    for (int axis = 0; axis < kAxes; ++axis) {
        // All 16 points of the axis are read ("1".."8", then "11".."18") before its tables change.
        std::array<std::array<int, kPoints>, 2> points;
        for (int side = 0; side < 2; ++side)
            for (int i = 0; i < kPoints; ++i)
                points[side][i] = m_store.Read(Setting::kProfilePoints[axis][side * kPoints + i]);
        for (int side = 0; side < 2; ++side) BuildSide(m_tables[axis][side], points[side]);
    }
}

// The float steps below are part of the curve's definition: positions are accumulated in single
// precision, so entry 79 of a 120 -> 122 segment is 1.5449994, not 1.545. Keep every
// intermediate a float variable and never fuse or reorder the arithmetic.
void CSpeedProfile::BuildSide(Table& table, const std::array<int, kPoints>& points) {
    const auto put = [&table](int entry, double factor) {
        table[entry].store(static_cast<float>(factor), std::memory_order_relaxed);
    };

    const float first = static_cast<float>(LevelToFactor(static_cast<double>(LevelOf(points[0]))));
    for (int entry = 0; entry < kEntriesPerSegment; ++entry) put(entry, first);

    // Segment i runs from point i to point i + 1; the last point is repeated, so the final
    // segment (entries 80..89) is flat.
    for (int i = 1; i <= kPoints; ++i) {
        const float a = static_cast<float>(LevelOf(points[i - 1]));
        const float b = static_cast<float>(LevelOf(points[std::min(i, kPoints - 1)]));
        const float step = (b == a) ? 0.0f : (b - a) / 10.0f;
        float x = a;
        for (int k = 0; k < kEntriesPerSegment; ++k) {
            put(kEntriesPerSegment * i + k, LevelToFactor(static_cast<double>(x)));
            x = x + step;
        }
    }
}

float CSpeedProfile::GetSpeedFactor(std::uint32_t axis, std::int32_t index) const noexcept {
    if (axis >= static_cast<std::uint32_t>(kAxes)) return 0.0f;
    // The magnitude is taken unsigned: negating INT_MIN as an int would overflow.
    const bool negative = index < 0;
    const std::uint32_t magnitude =
        negative ? 0u - static_cast<std::uint32_t>(index) : static_cast<std::uint32_t>(index);
    const std::size_t entry = std::min<std::uint32_t>(magnitude, kMaxIndex);
    return m_tables[axis][negative ? 1 : 0][entry].load(std::memory_order_relaxed);
}

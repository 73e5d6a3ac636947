// The speed profile: a user-drawn response curve per axis and motion direction, turned into
// tables of speed factors that the tracker reads on every frame.
//
//   CSpeedProfile profile(store);          // lives for the whole run, shared with the editor
//   profile.BuildSpeedTables();            // at start-up and on every Apply (user-interface thread)
//   float fx = profile.GetSpeedFactor(0, motionX);   // on the capture thread, per frame
//
// Rebuilding while the capture thread reads is allowed: every entry is one atomic 32-bit float,
// so a frame may see a mix of old and new entries but never a torn value.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "base/settings_store.h"

// Speed factor of a level (220 minus a stored point): 1.0 at level 100, 3.5 at 200, 40/139 at 0.
double LevelToFactor(double level);

class CSpeedProfile {
public:
    static constexpr int kAxes = 2;
    static constexpr int kTableSlots = 100;
    static constexpr int kFilledEntries = 90;  // slots 90..99 are spare and never touched
    static constexpr int kMaxIndex = 80;       // larger motions all get the last point's factor

    // Every entry starts at 1.0, what an empty store gives, until BuildSpeedTables runs.
    explicit CSpeedProfile(const CSettingsStore& store);
    CSpeedProfile(const CSpeedProfile&) = delete;
    CSpeedProfile& operator=(const CSpeedProfile&) = delete;

    // Reads the 32 points from the store (axis 0 first) and rebuilds all four tables.
    // Call on the thread that owns the store.
    void BuildSpeedTables();

    // Factor for axis 0 (horizontal) or 1 (vertical) and a signed motion index, clamped to
    // +-80; negative indices use the negative-motion table. Any other axis gives 0.0.
    // Safe on any thread; no lock, no allocation.
    float GetSpeedFactor(std::uint32_t axis, std::int32_t index) const noexcept;

private:
    using Table = std::array<std::atomic<float>, kTableSlots>;
    static_assert(std::atomic<float>::is_always_lock_free, "the capture thread must never block");

    void BuildSide(Table& table, const std::array<int, Setting::kProfilePointsPerSide>& points);

    const CSettingsStore& m_store;
    // [axis][side]: side 0 for non-negative motion (points "1".."8"), 1 for negative ("11".."18").
    std::array<std::array<Table, 2>, kAxes> m_tables;
};

// A fixed point set the editor can copy into the current axis; both sides get the same values.
struct SpeedProfileTemplate {
    const char* name;                                        // as listed in the editor
    std::array<int, Setting::kProfilePointsPerSide> points;  // stored values of points 1..8
};

inline constexpr std::array<SpeedProfileTemplate, 2> kSpeedProfileTemplates{{
    {"mouse", {120, 120, 120, 120, 120, 120, 120, 120}},
    {"simulation/game", {220, 214, 180, 160, 140, 120, 100, 98}},
}};

// The editor's names for axis 0 and axis 1 (the blanks are part of the names).
inline constexpr std::array<const char*, CSpeedProfile::kAxes> kSpeedProfileAxisNames{"left <-> right",
                                                                                      "up   <-> down "};

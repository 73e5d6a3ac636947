// The recent pointer positions, newest first, and how long the pointer has stayed within a small
// square: what the dwell logic decides a click from. Used from one thread.
#pragma once

#include <cstdint>

#include "base/settings_keys.h"

class CDetectWindow {
public:
    // A still time of n ticks needs n + 1 still entries (the count must exceed it), so the history
    // is one deeper than the longest still time the auto click page offers, which clicks too.
    static constexpr int kSize = Setting::kValueAutoClickMax + 1;
    static constexpr float kHalfSide = 10.0f;  // half the side of the still square

    CDetectWindow();

    // Shifts the history by one (the oldest entry is dropped) and stores (x, y) as newest.
    void Push(float x, float y);

    // How many entries in a row, from the newest, are valid and lie in the closed square
    // [x - 10, x + 10] x [y - 10, y + 10]; 0..kSize.
    int CountStill(float x, float y) const;

    // Everything pushed so far stops counting: the newest entry becomes invalid, and counting
    // stops there until kSize pushes have moved the marker out.
    void Reset();

private:
    float m_fX[kSize] = {};
    float m_fY[kSize] = {};
    std::uint8_t m_bValid[kSize] = {};
};

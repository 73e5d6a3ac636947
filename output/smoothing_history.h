// The newest moves of one axis, newest first, averaged over the newest few: how the pointer and
// the simulator view are smoothed.
//
//   CSmoothingHistory history;
//   const float smoothed = history.PushAndAverage(move, count);   // count 1..kSize
#pragma once

#include <algorithm>
#include <iterator>

class CSmoothingHistory {
public:
    static constexpr int kSize = 10;

    // Takes the newest value and returns the average of the newest count values.
    float PushAndAverage(float value, int count) {
        std::copy_backward(m_fValues, m_fValues + kSize - 1, m_fValues + kSize);
        m_fValues[0] = value;
        float sum = 0.0f;
        for (int i = 0; i < count; ++i) sum += m_fValues[i];
        return sum / static_cast<float>(count);
    }
    // Back to rest: every value 0.
    void Clear() { std::fill(std::begin(m_fValues), std::end(m_fValues), 0.0f); }

private:
    float m_fValues[kSize] = {};
};

// Whole wheel notches out of fine wheel amounts (WHEEL_DELTA a notch), for the receivers that know
// only notches: the plain wheel axes of a kernel device and the X server's wheel buttons. What is
// left of a notch waits for the next amount on the same axis.
//
//   CWheelNotches notches;
//   notches.Add(CWheelNotches::kVertical, 80);   // 0
//   notches.Add(CWheelNotches::kVertical, 80);   // 1, 40 kept
//
// Not thread-safe: each injector keeps one under its own lock.
#pragma once

#include <array>
#include <cstdint>

#include "output/input_event.h"

class CWheelNotches {
public:
    enum Axis { kVertical, kHorizontal };

    // The notches completed by amount, signed as the amount. A turn the other way first drops what
    // was left of a notch the old way, as a real wheel's next notch starts from where it is.
    int Add(Axis axis, std::int32_t amount) {
        std::int64_t& rest = m_rest[axis];
        if ((rest > 0 && amount < 0) || (rest < 0 && amount > 0)) rest = 0;
        rest += amount;
        const auto notches = static_cast<int>(rest / WHEEL_DELTA);
        rest -= static_cast<std::int64_t>(notches) * WHEEL_DELTA;
        return notches;
    }

private:
    std::array<std::int64_t, 2> m_rest{};
};

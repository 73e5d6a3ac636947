// Small pieces shared by the command-line tools.
#pragma once

#include <optional>
#include <string_view>

// A whole positive number written in decimal digits only, or nothing.
inline std::optional<int> ParsePositive(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1) return std::nullopt;
    return value;
}

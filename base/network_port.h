// A network port as a user or a variable writes it: digits only, 1 to 65535.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

inline std::optional<int> ParsePort(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

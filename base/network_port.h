// Network addresses as a user or a variable writes them: "host", "host:port", "[IPv6]" or
// "[IPv6]:port", with a port of digits only, 1 to 65535. One reading for every place that takes one.
//
//   std::string error;
//   auto address = SplitNetworkAddress("[::1]:18080", error);   // host "::1", port 18080
//   AuthorityHost("::1");                                       // "[::1]", ready for ":18080"
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

inline std::optional<int> ParsePort(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

struct NetworkAddress {
    std::string_view host;    // without brackets; whether it names anything is the caller's to judge
    std::optional<int> port;  // none written
    bool bracketed = false;   // written as "[host]": only an IPv6 address may be
};

// Splits the text at the colon after "]", else at its last colon, so that an IPv6 address without
// brackets still reads as host:port. Nothing, with the reason in error, for a port that is not
// 1..65535 or text after "]" that is not ":port".
inline std::optional<NetworkAddress> SplitNetworkAddress(std::string_view text, std::string& error) {
    NetworkAddress address;
    std::optional<std::string_view> port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        const std::string_view after = close == std::string_view::npos ? "" : text.substr(close + 1);
        if (close == std::string_view::npos || (!after.empty() && after.front() != ':')) {
            error = "an address in brackets must be [IPv6] or [IPv6]:port";
            return std::nullopt;
        }
        address.host = text.substr(1, close - 1);
        address.bracketed = true;
        if (!after.empty()) port = after.substr(1);
    } else {
        const std::size_t colon = text.rfind(':');
        address.host = text.substr(0, colon);
        if (colon != std::string_view::npos) port = text.substr(colon + 1);
    }
    if (port && !(address.port = ParsePort(*port))) {
        error = "the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    return address;
}

// The host as it stands before ":port" in an address: an IPv6 address in brackets.
inline std::string AuthorityHost(std::string_view host) {
    if (host.find(':') == std::string_view::npos) return std::string(host);
    std::string bracketed("[");
    return bracketed.append(host).append("]");
}

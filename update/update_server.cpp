#include "update/update_server.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include <arpa/inet.h>

#include "base/network_port.h"
#include "base/printable_text.h"
#include "base/version_info.h"

namespace {

bool IsHostName(std::string_view host) {
    return !host.empty() && std::ranges::all_of(host, [](unsigned char c) {
        return (c < 0x80 && std::isalnum(c) != 0) || c == '.' || c == '-';
    });
}

// The host part of a web address such as "https://mivex.example.org/".
std::string_view HostOfSite(std::string_view site) {
    if (const auto scheme = site.find("://"); scheme != std::string_view::npos) site.remove_prefix(scheme + 3);
    return site.substr(0, site.find_first_of(":/"));
}

}  // namespace

std::string UpdateServer::Authority() const {
    std::string authority = AuthorityHost(host);
    if (port != kHttpPort) authority.append(":").append(std::to_string(port));
    return authority;
}

std::string UpdateServer::Url(std::string_view path) const { return "http://" + Authority() + "/" + std::string(path); }

std::string UpdateServer::DownloadUrl(std::string_view fileName) const {
    return Url("download/" + std::string(fileName));
}

UpdateServer MakerUpdateServer() { return UpdateServer{std::string(HostOfSite(MIVEX_MAKER_SITE))}; }

std::optional<UpdateServer> ParseUpdateServer(std::string_view text, std::string& error) {
    if (text.find("://") != std::string_view::npos) {
        error = "a host is named without a scheme such as http://";
        return std::nullopt;
    }
    const std::optional<NetworkAddress> address = SplitNetworkAddress(text, error);
    if (!address) return std::nullopt;
    const std::string host(address->host);
    in6_addr v6;
    if (address->bracketed ? inet_pton(AF_INET6, host.c_str(), &v6) != 1 : !IsHostName(host)) {
        const std::string shown = PrintableText(host);
        error = address->bracketed ? "\"" + shown + "\" in brackets is not an IPv6 address"
                                   : "\"" + shown + "\" is not a host name";
        return std::nullopt;
    }
    return UpdateServer{host, address->port.value_or(UpdateServer::kHttpPort)};
}

std::optional<UpdateServer> UpdateServerFromEnvironment(std::string& problem) {
    problem.clear();
    const char* value = std::getenv(kUpdateHostVariable);
    if (value == nullptr || *value == '\0') return MakerUpdateServer();
    std::string why;
    if (auto server = ParseUpdateServer(value, why)) return server;
    problem = std::string(kUpdateHostVariable) + "=\"" + PrintableText(value) +
              "\" is not HOST, HOST:PORT, [IPv6] or [IPv6]:PORT (" + why + "); nothing is asked";
    return std::nullopt;
}

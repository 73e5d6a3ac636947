#include "update_server.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "network_port.h"
#include "version_info.h"

namespace {

bool IsHostName(std::string_view host) {
    return !host.empty() &&
           std::ranges::all_of(host, [](unsigned char c) { return std::isalnum(c) != 0 || c == '.' || c == '-'; });
}

// The host part of a web address such as "https://mivex.example.org/".
std::string_view HostOfSite(std::string_view site) {
    if (const auto scheme = site.find("://"); scheme != std::string_view::npos) site.remove_prefix(scheme + 3);
    return site.substr(0, site.find_first_of(":/"));
}

}  // namespace

std::string UpdateServer::Authority() const { return port == kHttpPort ? host : host + ":" + std::to_string(port); }

std::string UpdateServer::Url(std::string_view path) const { return "http://" + Authority() + "/" + std::string(path); }

std::string UpdateServer::DownloadUrl(std::string_view fileName) const {
    return Url("download/" + std::string(fileName));
}

UpdateServer MakerUpdateServer() { return UpdateServer{std::string(HostOfSite(MIVEX_MAKER_SITE))}; }

std::optional<UpdateServer> ParseUpdateServer(std::string_view text) {
    const auto colon = text.find(':');
    UpdateServer server{std::string(text.substr(0, colon))};
    if (!IsHostName(server.host)) return std::nullopt;
    if (colon == std::string_view::npos) return server;
    const std::optional<int> port = ParsePort(text.substr(colon + 1));
    if (!port) return std::nullopt;
    server.port = *port;
    return server;
}

UpdateServer UpdateServerFromEnvironment(std::string& problem) {
    problem.clear();
    const char* value = std::getenv(kUpdateHostVariable);
    if (value == nullptr || *value == '\0') return MakerUpdateServer();
    if (auto server = ParseUpdateServer(value)) return *server;
    const UpdateServer maker = MakerUpdateServer();
    problem = std::string(kUpdateHostVariable) + "=" + value + " is not host or host:port; asking " +
              maker.Authority() + " instead";
    return maker;
}

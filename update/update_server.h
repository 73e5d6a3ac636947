// The web server that the update check asks: the maker's, on port 80, unless the environment
// names another (MIVEX_UPDATE_HOST=host, host:port, [IPv6] or [IPv6]:port, for tests and scripts).
//
//   std::string problem;
//   const auto server = UpdateServerFromEnvironment(problem);   // none: a bad variable, problem says why
//   server->Authority();                      // "mivex.example.org", "127.0.0.1:8080" or "[::1]:8080"
//   server->DownloadUrl("setup310.exe");      // "http://mivex.example.org/download/setup310.exe"
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kUpdateHostVariable = "MIVEX_UPDATE_HOST";

struct UpdateServer {
    static constexpr int kHttpPort = 80;

    std::string host;
    int port = kHttpPort;

    // "host", or "host:port" for a port other than 80; an IPv6 host in brackets.
    std::string Authority() const;
    // The address of a path on the server, as in Url("download/update_info.html").
    std::string Url(std::string_view path) const;
    // Where a file of the download folder is fetched from.
    std::string DownloadUrl(std::string_view fileName) const;
};

// The maker's server: the host of the web site that the about box links to, port 80.
UpdateServer MakerUpdateServer();

// "host", "host:port", "[IPv6]" or "[IPv6]:port" (a host of letters, digits, '.' and '-'; a port
// 1..65535), or nothing, with the reason in error.
std::optional<UpdateServer> ParseUpdateServer(std::string_view text, std::string& error);

// The server MIVEX_UPDATE_HOST names, else the maker's. A value that names none is refused rather
// than passed over, so that a typo never sends the question elsewhere: nothing, and problem says
// why (else it is left empty).
std::optional<UpdateServer> UpdateServerFromEnvironment(std::string& problem);

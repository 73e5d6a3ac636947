// The web server that the update check asks: the maker's, on port 80, unless the environment
// names another (MIVEX_UPDATE_HOST=host or host:port, for tests and scripts).
//
//   std::string problem;
//   const UpdateServer server = UpdateServerFromEnvironment(problem);   // problem: a bad variable
//   server.Authority();                       // "mivex.example.org" or "127.0.0.1:8080"
//   server.DownloadUrl("setup310.exe");       // "http://mivex.example.org/download/setup310.exe"
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kUpdateHostVariable = "MIVEX_UPDATE_HOST";

struct UpdateServer {
    static constexpr int kHttpPort = 80;

    std::string host;
    int port = kHttpPort;

    // "host", or "host:port" for a port other than 80.
    std::string Authority() const;
    // The address of a path on the server, as in Url("download/update_info.html").
    std::string Url(std::string_view path) const;
    // Where a file of the download folder is fetched from.
    std::string DownloadUrl(std::string_view fileName) const;
};

// The maker's server: the host of the web site that the about box links to, port 80.
UpdateServer MakerUpdateServer();

// "host" or "host:port" (a host of letters, digits, '.' and '-'; a port 1..65535), or nothing.
std::optional<UpdateServer> ParseUpdateServer(std::string_view text);

// The server MIVEX_UPDATE_HOST names, else the maker's. A value that names none is passed over
// for the maker's server, and problem says so (else it is left empty).
UpdateServer UpdateServerFromEnvironment(std::string& problem);

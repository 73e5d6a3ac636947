#include "update/update_report.h"

#include <cctype>

#include "base/version_info.h"
#include "update/update_check.h"

namespace {

constexpr const char* kPressCheck = "Press Check to find a new version of Mivex!";
constexpr const char* kNoConnection = "Can't make an internet connection";
constexpr const char* kNewVersion = "New version of Mivex! found: ";
constexpr const char* kClickUpdate = "Click on Update to download this version";
constexpr const char* kLatestVersion = "Latest version of Mivex!: ";
constexpr const char* kMostCurrent = "You already have the most current version of Mivex!";
constexpr const char* kNoServer = " names no web server, so nothing is asked.";
constexpr const char* kSetServer = "Set it to HOST, HOST:PORT or [IPv6]:PORT, or unset it to ask the maker's server.";

std::string LookYourself() {
    return std::string("Please look for a new version on ") + MIVEX_MAKER_SITE + " yourself.";
}

// "The server answered ... Please look ...": the reason as the line's first sentence.
std::string Sentence(std::string text) {
    if (!text.empty()) text.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(text.front())));
    return text + ".";
}

}  // namespace

UpdateLines WelcomeLines(const std::optional<UpdateServer>& server) {
    if (!server) return {kPressCheck, kUpdateHostVariable + std::string(kNoServer)};
    return {kPressCheck, "It connects to the web server " + server->host + " on port " + std::to_string(server->port) +
                             " over HTTP."};
}

std::string RunningLine(const UpdateServer& server) {
    return "Checking " + server.Authority() + " for a new version of Mivex!...";
}

UpdateReport ReportCheck(bool checked, const CUpdateCheck& check, const std::string& ownVersion) {
    if (!checked) return {false, {kNoConnection, Sentence(check.m_strFailure) + " " + LookYourself()}, {}};
    if (check.m_strVersion != ownVersion)
        return {true, {kNewVersion + check.m_strVersion, kClickUpdate}, check.m_strDownload};
    return {true, {kLatestVersion + check.m_strVersion, kMostCurrent}, check.m_strDownload};
}

UpdateReport ReportNoServer() { return {false, {kUpdateHostVariable + std::string(kNoServer), kSetServer}, {}}; }

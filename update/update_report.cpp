#include "update_report.h"

#include "update_check.h"
#include "version_info.h"

namespace {

constexpr const char* kPressCheck = "Press Check to find a new verion of Mivex!";
constexpr const char* kNoConnection = "Can't make an internet connection";
constexpr const char* kNewVersion = "New version of Mivex! found: ";
constexpr const char* kClickUpdate = "Click on Update to download this version";
constexpr const char* kLatestVersion = "Latest version of Mivex!: ";
constexpr const char* kMostCurrent = "You already have the most current version of Mivex!";

}  // namespace

UpdateLines WelcomeLines(const UpdateServer& server) {
    return {kPressCheck,
            "It connects to the web server " + server.host + " on port " + std::to_string(server.port) + " over HTTP."};
}

std::string RunningLine(const UpdateServer& server) {
    return "Checking " + server.Authority() + " for a new version of Mivex!...";
}

UpdateReport ReportCheck(bool checked, const CUpdateCheck& check, const std::string& ownVersion) {
    if (!checked)
        return {false,
                {kNoConnection, std::string("Please look for a new version on ") + MIVEX_MAKER_SITE + " yourself."}};
    if (check.m_strVersion != ownVersion) return {true, {kNewVersion + check.m_strVersion, kClickUpdate}};
    return {true, {kLatestVersion + check.m_strVersion, kMostCurrent}};
}

// The lines the update window shows (and `mivex --check-update` prints): before a check, while it
// runs, and what its result means for this copy of the program.
//
//   CUpdateCheck check(server);
//   const UpdateReport report = ReportCheck(check.Check(), check, CSystemVersion().m_strVersion);
//   show(report.lines);                      // "New version of Mivex! found: 3.10 A", ...
#pragma once

#include <array>
#include <optional>
#include <string>

#include "update/update_server.h"

class CUpdateCheck;

using UpdateLines = std::array<std::string, 2>;

struct UpdateReport {
    bool checked = false;  // the server answered as it should: "Update" may be offered
    UpdateLines lines;
    std::string download;  // what "Update" opens; empty unless checked
};

// What the window says before the first check: press Check, and whom it asks (or that
// MIVEX_UPDATE_HOST names no server, when there is none).
UpdateLines WelcomeLines(const std::optional<UpdateServer>& server);
// What the window says while a check runs.
std::string RunningLine(const UpdateServer& server);
// The result: a new version, the newest one, or no connection with the reason why. The versions
// are compared as they stand, letter case included.
UpdateReport ReportCheck(bool checked, const CUpdateCheck& check, const std::string& ownVersion);
// The result of a check with no server to ask: MIVEX_UPDATE_HOST was refused.
UpdateReport ReportNoServer();

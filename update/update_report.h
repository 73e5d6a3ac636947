// The lines the update window shows (and `mivex --check-update` prints): before a check, while it
// runs, and what its result means for this copy of the program.
//
//   CUpdateCheck check(server);
//   const UpdateReport report = ReportCheck(check.Check(), check, CSystemVersion().m_strVersion);
//   show(report.lines);                      // "New version of Mivex! found: 3.10 A", ...
#pragma once

#include <array>
#include <string>

#include "update_server.h"

class CUpdateCheck;

using UpdateLines = std::array<std::string, 2>;

struct UpdateReport {
    bool checked = false;  // the server answered as it should: "Update" may be offered
    UpdateLines lines;
};

// What the window says before the first check: press Check, and whom it asks.
UpdateLines WelcomeLines(const UpdateServer& server);
// What the window says while a check runs.
std::string RunningLine(const UpdateServer& server);
// The result: a new version, the newest one, or no connection. The versions are compared as they
// stand, letter case included.
UpdateReport ReportCheck(bool checked, const CUpdateCheck& check, const std::string& ownVersion);

#include "update/update_command.h"

#include "base/system_version.h"
#include "update/update_check.h"
#include "update/update_report.h"

namespace {

// The check against the server the environment names; a refused name asks nobody.
UpdateReport CheckFromEnvironment(const CUpdateCheck::LogLine& log) {
    std::string problem;
    const std::optional<UpdateServer> server = UpdateServerFromEnvironment(problem);
    if (!server) {
        log("mivex: " + problem);
        return ReportNoServer();
    }
    CUpdateCheck check(*server, log);
    const bool checked = check.Check();
    return ReportCheck(checked, check, CSystemVersion().m_strVersion);
}

}  // namespace

int RunUpdateCheckCommand(std::FILE* out, std::FILE* err) {
    const UpdateReport report =
        CheckFromEnvironment([err](const std::string& line) { std::fprintf(err, "%s\n", line.c_str()); });
    // The one place that writes standard output.
    for (const std::string& line : report.lines) std::fprintf(out, "%s\n", line.c_str());
    return report.checked ? 0 : 1;
}

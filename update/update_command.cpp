#include "update_command.h"

#include "system_version.h"
#include "update_check.h"
#include "update_report.h"

int RunUpdateCheckCommand(std::FILE* out, std::FILE* err) {
    std::string problem;
    const UpdateServer server = UpdateServerFromEnvironment(problem);
    if (!problem.empty()) std::fprintf(err, "mivex: %s\n", problem.c_str());
    CUpdateCheck check(server, [err](const std::string& line) { std::fprintf(err, "%s\n", line.c_str()); });
    const bool checked = check.Check();
    const UpdateReport report = ReportCheck(checked, check, CSystemVersion().m_strVersion);
    for (const std::string& line : report.lines) std::fprintf(out, "%s\n", line.c_str());
    return report.checked ? 0 : 1;
}

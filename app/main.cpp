#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "app/application_bus.h"
#include "app/display_platform.h"
#include "app/mivex_app.h"
#include "app/termination_signals.h"
#include "base/standard_output.h"
#include "base/version_info.h"
#include "update/update_command.h"

namespace {

// Qt ends the process with a crash report when it finds no display; say it plainly instead.
bool HasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(variable); value && *value) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Until the handler is in place an end or restart request would kill the program outright:
    // from here it waits (a restarted copy starts with the signals blocked already).
    CTerminationSignals::Block();
    std::string error;
    const auto options = ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "mivex: %s\n%s", error.c_str(), kProgramUsage);
        return kUsageExitCode;
    }
    if (options->help) {
        std::fputs(kProgramUsage, stdout);
        return FinishStandardOutput("mivex", 0);
    }
    if (options->version) {
        std::printf("%s %s\n", MIVEX_PRODUCT_NAME, MIVEX_PRODUCT_VERSION);
        return FinishStandardOutput("mivex", 0);
    }
    if (options->checkUpdate) {
        CTerminationSignals::Unblock();  // no program to end in order: Ctrl-C simply stops the check
        return FinishStandardOutput("mivex", RunUpdateCheckCommand(stdout, stderr));
    }
    // Before any part of the program, Qt's own included, connects to a bus.
    UseOnlyTheSessionsBus();
    if (!options->action.empty()) {
        CTerminationSignals::Unblock();
        int code = 0;
        {
            const QCoreApplication caller(argc, argv);  // the session bus's connection needs one
            std::string failure;
            if (!AskRunningCopyForAction(options->action, CmivexApp::MakeSingleInstance().LockFile(), failure)) {
                std::fprintf(stderr, "mivex: --action %s not done: %s\n", options->action.c_str(), failure.c_str());
                code = 1;
            }
        }
        // Without the usual end: Qt's bus thread may still be reading a message while the types it
        // needs are torn down, and then warns on standard error. Nothing here needs tidying.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    // Before the program starts. The requests wait until start-up is done.
    CTerminationSignals::Install();
    if (!HasDisplay()) {
        std::fputs("mivex: no graphical session (DISPLAY and WAYLAND_DISPLAY are not set)\n", stderr);
        return 1;
    }
    // Read before Qt takes them out of the environment.
    const ActivationToken activation = ActivationToken::FromEnvironment();
    const DisplayEnvironment display = DisplayEnvironment::OfProcess();
    const std::string platform = ChooseQtPlatform(display);
    if (const std::string missing = MissingDisplayPlatform(display, QtWaylandPlatformInstalled()); !missing.empty()) {
        std::fprintf(stderr, "mivex: %s\n", missing.c_str());
        return 1;
    }
    if (!platform.empty()) ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    CmivexApp app(argc, argv, *options, activation);
    // Only for this QApplication: what the program starts (a restart, the web browser) chooses anew.
    if (!platform.empty()) ::unsetenv("QT_QPA_PLATFORM");
    app.SetDisplayChoice(display, platform);
    return app.Run();
}

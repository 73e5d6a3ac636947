// The tray icon in a real system tray (the fixture's trayer at the top left): it appears, and its
// menu's Exit ends the program.
#include <sstream>

#include "e2e_harness.h"

namespace e2e {
namespace {

// Viewable windows of the process, each with its top-level ancestor.
std::vector<std::pair<WindowInfo, Window>> WindowsOf(const XClient& x, pid_t pid) {
    std::vector<std::pair<WindowInfo, Window>> found;
    for (Window w : x.AllWindows()) {
        if (x.WindowPid(w) != pid) continue;
        const auto info = x.Info(w);
        if (info && info->viewable) found.push_back({*info, x.TopLevel(w)});
    }
    return found;
}

std::string ShowWindows(const XClient& x) {
    std::ostringstream text;
    text << "\nwindows (id pid top-level x,y wxh viewable):\n";
    for (Window w : x.AllWindows()) {
        const auto info = x.Info(w);
        if (!info) continue;
        text << std::hex << w << std::dec << ' ' << x.WindowPid(w).value_or(0) << ' ' << std::hex << x.TopLevel(w)
             << std::dec << ' ' << info->x << ',' << info->y << ' ' << info->width << 'x' << info->height << ' '
             << info->viewable << '\n';
    }
    return text.str();
}

using TrayTest = ProgramTest;

TEST_F(TrayTest, IconSitsInTheTrayAndItsMenuExitEndsTheProgram) {
    ProgramRun run = S().Start(CameraArgs());
    ASSERT_TRUE(S().WaitForLogLine(run, "InitInstance exit OK", Scaled(20s))) << S().Diagnostics(run);
    EXPECT_TRUE(HasLine(S().LogText(run), "WriteToolbar")) << S().Diagnostics(run);

    // The icon: a window of the program that the tray has taken in (its top level is the tray's).
    const XClient& x = S().X();
    std::optional<WindowInfo> icon;
    WaitUntil(
        [&] {
            for (const auto& [info, top] : WindowsOf(x, run.pid))
                if (top != info.id && x.WindowPid(top) != run.pid && info.width > 0) icon = info;
            return icon.has_value() || !IsRunning(run.pid);
        },
        Scaled(10s));
    ASSERT_TRUE(icon) << "no icon of the program in the tray" << ShowWindows(x) << S().Diagnostics(run);
    EXPECT_LT(icon->y, 24) << "the icon is not in the tray at the top of the screen" << ShowWindows(x);

    std::set<Window> shown;
    for (const auto& [info, top] : WindowsOf(x, run.pid)) shown.insert(info.id);
    x.Click({icon->x + icon->width / 2, icon->y + icon->height / 2}, Button3);
    std::optional<WindowInfo> menu;
    WaitUntil(
        [&] {
            for (const auto& [info, top] : WindowsOf(x, run.pid))
                if (top == info.id && !shown.count(info.id)) menu = info;
            return menu.has_value() || !IsRunning(run.pid);
        },
        Scaled(5s));
    ASSERT_TRUE(menu) << "no menu after a right click on the icon" << ShowWindows(x) << S().Diagnostics(run);

    std::this_thread::sleep_for(Scaled(200ms));  // the menu takes the keyboard once it is shown
    x.PressKey(XK_x);                              // "E&xit"
    const auto status = WaitForExit(run.pid, Scaled(2s));
    ASSERT_TRUE(status) << "still running 2 s after Exit" << ShowWindows(x) << S().Diagnostics(run);
    EXPECT_TRUE(ExitedWithCode(status, 0)) << DescribeStatus(*status) << S().Diagnostics(run);
    EXPECT_EQ(S().Settings().GetOr("boot", "rebootCount", 0), 0);
    EXPECT_TRUE(HasLine(S().LogText(run), "ExitInstance end")) << S().Diagnostics(run);
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto all = x.AllWindows();
            return std::find(all.begin(), all.end(), icon->id) == all.end();
        },
        Scaled(2s)))
        << "the icon is still in the tray" << ShowWindows(x);
}

}  // namespace
}  // namespace e2e

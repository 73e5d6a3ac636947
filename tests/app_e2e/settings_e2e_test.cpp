// The settings window of the running program on a desktop without a tray, driven from the keyboard
// as a user without a mouse would: the "Mouse Left and Right movement" slider changes the pointer's
// horizontal gain on the frames that follow, the start-at-login entry starts this very program,
// and the window's Exit ends it.
#include "tests/app_e2e/e2e_harness.h"

namespace e2e {
namespace {

class SettingsWindow : public ProgramTest {
protected:
    bool WithTray() const override { return false; }

    // Horizontal over vertical travel of the pointer over about three seconds of head motion;
    // the vertical gain stays put, so the ratio follows the horizontal gain alone.
    double HorizontalShare() const {
        double across = 0, down = 0;
        for (int i = 0; i < 12 * kSlow; ++i) {
            const Point from = Pointer();
            std::this_thread::sleep_for(250ms);
            const Point step = Pointer() - from;
            across += std::abs(step.x), down += std::abs(step.y);
            if (cv::norm(Pointer() - Centre()) > Centre().y - 150) MovePointer(Centre());
        }
        return across / std::max(down, 1.0);
    }
    void Key(KeySym key) const { Press(0, key); }
    // The window's, once it is mapped; the window shows after the program's wait for a tray.
    bool FocusSheet(Window sheet) const {
        return WaitUntil(
            [&] {
                XSetInputFocus(m_x, sheet, RevertToParent, CurrentTime);
                XSync(m_x, False);
                return FocusedWindow() == sheet;
            },
            kSlow * 15s);
    }
    std::string FocusedName() const {
        char* title = nullptr;
        const Window focus = FocusedWindow();
        const std::string name = focus > PointerRoot && XFetchName(m_x, focus, &title) && title ? title : "?";
        if (title) XFree(title);
        return "\"" + name + "\" (" + std::to_string(focus) + ")";
    }
};

TEST_F(SettingsWindow, TheLeftRightSliderChangesTheGainTheLoginEntryStartsTheProgramAndExitEndsIt) {
    CSettingsStore().Write(Setting::kUseMouse, 1);
    CSettingsStore().Write(Setting::kRebootCount, 3);
    CSettingsStore().Write(Setting::kStartupProgram, 1);
    MovePointer(Centre());
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "No system tray yet: *")) << Diagnostics(run);
    Window sheet = None;
    ASSERT_TRUE(WaitUntil([&] { return (sheet = FindWindow("Kordo Mivex!")) != None; }, kSlow * 10s));
    ASSERT_TRUE(PointerMoves()) << Diagnostics(run);

    // The window may exist before it is mapped, and the focus cannot go to it until then. The user
    // then tabs forward from wherever the window put the focus (the tab bar, or a control before
    // the first slider of the "Settings" tab) until End takes that slider to its end.
    ASSERT_TRUE(FocusSheet(sheet)) << "the window never took the focus";
    // An End that moves any slider ends the search, so a slow window never makes the user tab
    // past the one that moved.
    const auto sliders = [] {
        const CSettingsStore store;
        return std::array{store.Read(Setting::kSliderLrMouse), store.Read(Setting::kSliderUdMouse),
                          store.Read(Setting::kSliderSmoothMouse), store.Read(Setting::kSliderAccWindowMouse),
                          store.Read(Setting::kSliderAccMouse)};
    };
    const auto atEnd = [] { return CSettingsStore().Read(Setting::kSliderLrMouse) == 20; };
    for (int tabs = 0; tabs < 4; ++tabs) {
        const auto before = sliders();
        Key(XK_End);
        if (WaitUntil([&] { return sliders() != before; }, kSlow * 5s)) break;
        Key(XK_Tab);
    }
    ASSERT_TRUE(atEnd()) << "the slider did not reach its end; the focus is on " << FocusedName() << "; settings:\n"
                         << test::ReadFile(CSettingsStore().FilePath()) << Diagnostics(run);
    const double strong = HorizontalShare();
    Key(XK_Home);
    ASSERT_TRUE(WaitUntil([] { return CSettingsStore().Read(Setting::kSliderLrMouse) == 1; }, kSlow * 5s));
    const double weak = HorizontalShare();
    EXPECT_GT(strong, 5 * weak) << "gain 20 against gain 1: " << strong << " vs " << weak;

    const std::string entry = test::ReadFile(Root() / "autostart" / "KORDO_mivex!.desktop");
    const std::string exec = "Exec=\"" + Program().string() + "\" --autostart\n";
    ASSERT_NE(entry.find(exec), std::string::npos) << entry;
    const fs::path version = Root() / "version";
    const std::string command = exec.substr(5, exec.size() - 6) + " --version > " + version.string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_NE(test::ReadFile(version).find(MIVEX_E2E_VERSION), std::string::npos);

    // A tray starting later takes the icon; once it has gone again, Alt+X on the window's "E&xit"
    // ends the program as the tray menu's does.
    m_tray.emplace(DisplayName());
    ASSERT_TRUE(m_tray->Ok()) << m_tray->Error();
    const auto iconInTray = [&] { return OwnerAt({12, 12}) == run.pid; };
    EXPECT_TRUE(WaitUntil(iconInTray, kSlow * 10s))
        << "no icon of the program in the tray at the top left" << Diagnostics(run);
    m_tray.reset();
    ASSERT_TRUE(WaitForLogLine(run, "System tray gone: *")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {"No system tray yet: *", "WriteToolbar", "System tray gone: *"}), "");

    ASSERT_TRUE(FocusSheet(sheet));
    const KeyCode alt = XKeysymToKeycode(m_x, XK_Alt_L), x = XKeysymToKeycode(m_x, XK_x);
    for (const auto& [key, down] : {std::pair(alt, true), {x, true}, {x, false}, {alt, false}})
        XTestFakeKeyEvent(m_x, key, down, CurrentTime);
    XSync(m_x, False);
    EXPECT_EQ(Ending(run.pid, kSlow * 10s), "exit code 0") << Diagnostics(run);
    EXPECT_EQ(CSettingsStore().Read(Setting::kRebootCount), 0);
    EXPECT_EQ(MissingInOrder(Log(run), {"InitInstance exit OK", "ExitInstance begin", "ExitInstance end"}), "")
        << Diagnostics(run);
}

}  // namespace
}  // namespace e2e

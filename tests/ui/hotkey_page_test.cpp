// The "Hotkeys" page: its controls, what it stores and grabs and when, and what each hotkey does;
// with a recording grabber offscreen, with the X11 grabber on a private Xvfb, and with the
// desktop's shortcuts through a GlobalShortcuts portal of our own on a private session bus.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "base/logging.h"
#include "output/input_event.h"
#include "output/portal_shortcuts.h"
#include "output/recording_hotkey_grabber.h"
#include "output/x11_hotkey_grabber.h"
#include "tests/support/fake_portal.h"
#include "tests/ui/page_fixture.h"
#include "ui/control_ids.h"
#include "ui/hotkey_actions.h"
#include "ui/hotkey_ctrl.h"
#include "ui/hotkey_page.h"
#include "ui/main_sheet.h"
// Xlib last: its macros break Qt's headers.
#include "tests/support/session_bus.h"
#include "tests/support/xvfb_server.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef KeyPress  // Qt's event type is meant below

namespace {

using namespace ControlIds;

constexpr std::uint16_t kF5 = VK_F1 + 4, kF6 = VK_F1 + 5, kF9 = VK_F1 + 8;

using Combo = CRecordingHotkeyGrabber::Combination;

struct FakeViewCentre final : IViewCentre {
    void CentreView() override { ++centred; }
    int centred = 0;
};

// The page's rows, in order; the dispatch tests give them F1 ... F8.
constexpr int kRows[] = {kHotkeyActivate, kHotkeyLeft,       kHotkeyMiddle,       kHotkeyRight,
                         kHotkeyDouble,   kHotkeyMiddleLock, kHotkeyMiddleUnlock, kHotkeyCentre};
std::uint16_t KeyOf(int controlId) {
    return VK_F1 + static_cast<std::uint16_t>(std::ranges::find(kRows, controlId) - kRows);
}

class HotkeyPage : public PageFixture {
protected:
    // Starts the page as start-up does, with the recording grabber unless given another.
    void Start(IHotkeyGrabber* other = nullptr, IDesktopShortcuts* shortcuts = nullptr) {
        log.Open();
        host.log = &log;
        host.viewCentre = &view;
        page = new CMivexDlgHotkey(host, std::unique_ptr<IHotkeyGrabber>(other ? other : grabber),
                                   std::unique_ptr<IDesktopShortcuts>(shortcuts));
        if (other) delete grabber;
        sheet.AddPage(page);
        sheet.SetActivePage(0);
    }
    void ShowFKeys() {
        for (int id : kRows) page->Control(id)->SetHotKey(KeyOf(id), 0);
    }
    std::string LogText() const { return test::ReadFile(log.FilePath()); }

    FakeViewCentre view;
    CLogging log{store, home.path()};
    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet{stopAll};
    CMivexDlgHotkey* page = nullptr;
    CRecordingHotkeyGrabber* grabber = new CRecordingHotkeyGrabber;
};

TEST_F(HotkeyPage, StartUpShowsAndGrabsTheStoredHotkeysInItsOrderAndOneStoredTwiceOnlyForTheFirstInDispatch) {
    // Right comes before hold in the dispatch, after it in the registration.
    for (const SettingKey* key : {&Setting::kHotkeyMouseRight, &Setting::kHotkeyMouseMiddleLock})
        store.Write(*key, MakeHotkeyWord(kF9, HOTKEYF_ALT));
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT));
    Start();
    EXPECT_EQ(page->Control(kHotkeyActivate)->text(), "Shift+F5");
    EXPECT_EQ(grabber->calls,
              (std::vector<std::string>{"unregister mouseActive", "register mouseActive", "unregister mouseMiddleLock",
                                        "unregister mouseRight", "register mouseRight"}));
    EXPECT_EQ(grabber->grabbed["mouseActive"], Combo(kF5, HOTKEYF_SHIFT));
    EXPECT_EQ(page->Control(kHotkeyMiddleLock)->text(), "Alt+F9");
    EXPECT_EQ(page->Note(kHotkeyMiddleLock),
              "Not in use: Alt+F9 is already the hotkey for: Hot key press \"right mouse key\"");
    EXPECT_TRUE(page->Note(kHotkeyRight).isEmpty());
    EXPECT_NE(LogText().find("Hotkey Alt+F9 for Hot key \"lock key\" not registered: Alt+F9 is already the hotkey "
                             "for: Hot key press \"right mouse key\""),
              std::string::npos);
}

// What a press does with mouse control on or off.
struct Press {
    const char* name;
    bool mouseActive;
    int pressed;  // control id
    bool activeAfter;
    std::uint32_t injected;  // mouse event flags, 0 for no event
    int button, clickType;   // armed
    int centred;             // view centred and head position reset
};
void PrintTo(const Press& press, std::ostream* out) { *out << press.name; }

// clang-format off
const Press kPresses[] = {
    {"ActivationSwitchesOn", false, kHotkeyActivate, true, 0, CMouse::kButtonNone, 0, 0},
    {"ActivationSwitchesOffReleasingTheMiddleButton", true, kHotkeyActivate, false, MOUSEEVENTF_MIDDLEUP, CMouse::kButtonNone, 0, 0},
    {"ClicksDoNothingWhileOff", false, kHotkeyLeft, false, 0, CMouse::kButtonNone, 0, 0},
    {"LeftArmsASingleClick", true, kHotkeyLeft, true, 0, CMouse::kButtonLeft, CMouse::kClickSingle, 0},
    {"MiddleArmsASingleClick", true, kHotkeyMiddle, true, 0, CMouse::kButtonMiddle, CMouse::kClickSingle, 0},
    {"RightArmsASingleClick", true, kHotkeyRight, true, 0, CMouse::kButtonRight, CMouse::kClickSingle, 0},
    {"DoubleArmsADoubleClick", true, kHotkeyDouble, true, 0, CMouse::kButtonLeft, CMouse::kClickDouble, 0},
    {"HoldPressesTheMiddleButtonAtOnce", true, kHotkeyMiddleLock, true, MOUSEEVENTF_MIDDLEDOWN, CMouse::kButtonNone, 0, 0},
    {"ReleaseLetsGoAtOnce", true, kHotkeyMiddleUnlock, true, MOUSEEVENTF_MIDDLEUP, CMouse::kButtonNone, 0, 0},
    {"CentreCentresTheViewAndResetsTheHead", true, kHotkeyCentre, true, 0, CMouse::kButtonNone, 0, 1},
};
// clang-format on

class HotkeyPress : public HotkeyPage, public testing::WithParamInterface<Press> {
protected:
    void ExpectOutcome(const Press& c) {
        EXPECT_EQ(mirror.m_bMouseActive, c.activeAfter);
        EXPECT_EQ(injector.Events(),
                  c.injected ? std::vector{InputEvent::Mouse(c.injected)} : std::vector<InputEvent>{});
        EXPECT_EQ(std::pair(mouse.GetButton(), mouse.GetClickType()), std::pair(c.button, c.clickType));
        EXPECT_EQ(std::pair(view.centred, engine.resets), std::pair(c.centred, c.centred));
    }
};

TEST_P(HotkeyPress, ActsAsTheTableSays) {
    const Press& c = GetParam();
    Start();
    ShowFKeys();
    mirror.m_bMouseActive = c.mouseActive;
    page->OnHotKey(KeyOf(c.pressed), 0);
    ExpectOutcome(c);
}

// The desktop's shortcuts and the command line name the action instead of pressing its key.
TEST_P(HotkeyPress, ActsTheSameWhenAskedForByTheActionsName) {
    const Press& c = GetParam();
    Start();
    mirror.m_bMouseActive = c.mouseActive;
    const auto action = std::find_if(kHotkeyActions.begin(), kHotkeyActions.end(),
                                     [&](const HotkeyAction& a) { return a.controlId == c.pressed; });
    ASSERT_NE(action, kHotkeyActions.end());
    EXPECT_TRUE(page->ActivateAction(action->name));
    EXPECT_FALSE(page->ActivateAction("no-such-action"));
    ExpectOutcome(c);
}

INSTANTIATE_TEST_SUITE_P(Page, HotkeyPress, testing::ValuesIn(kPresses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HotkeyPage, TwoControlsWithOneCombinationActAsTheFirstInDispatchOrderAndOthersNone) {
    Start();
    ShowFKeys();
    mirror.m_bMouseActive = true;
    // The hold row comes before the middle row on the page, after it in the dispatch.
    page->Control(kHotkeyMiddleLock)->SetHotKey(KeyOf(kHotkeyMiddle), 0);
    page->OnHotKey(KeyOf(kHotkeyMiddle), 0);
    page->OnHotKey(KeyOf(kHotkeyLeft), HOTKEYF_SHIFT);
    EXPECT_EQ(mouse.GetButton(), CMouse::kButtonMiddle);
    EXPECT_TRUE(injector.Events().empty()) << "the hold hotkey acted too";
    // A word stored before the extended flag was kept names the same key; keypad Enter is not Enter.
    page->Control(kHotkeyRight)->SetHotKey(VK_HOME, 0);
    page->Control(kHotkeyDouble)->SetHotKey(VK_RETURN, HOTKEYF_EXT);
    page->OnHotKey(VK_RETURN, 0);
    page->OnHotKey(VK_HOME, HOTKEYF_EXT);
    EXPECT_EQ(std::pair(mouse.GetButton(), mouse.GetClickType()),
              std::pair(CMouse::kButtonRight, CMouse::kClickSingle));
}

TEST_F(HotkeyPage, SwitchingMouseControlOffLetsGoOfTheButtonADragHolds) {
    Start();
    ShowFKeys();
    mirror.m_bMouseActive = true;
    mouse.Arm(CMouse::kButtonLeft, CMouse::kClickHold);
    page->OnHotKey(KeyOf(kHotkeyActivate), 0);
    EXPECT_EQ(injector.Events(),
              (std::vector{InputEvent::Mouse(MOUSEEVENTF_LEFTUP), InputEvent::Mouse(MOUSEEVENTF_MIDDLEUP)}));
    EXPECT_EQ(mouse.GetButton(), CMouse::kButtonNone);
}

TEST_F(HotkeyPage, AChangeWhileActiveIsStoredAndGrabbedAndOkGrabsAllEightAndHides) {
    Start();
    ShowFKeys();
    sheet.show();
    CHotKeyCtrl& left = *page->Control(kHotkeyLeft);
    QTest::keyClick(&left, Qt::Key_F9, Qt::ShiftModifier | Qt::AltModifier);
    const std::uint32_t word = MakeHotkeyWord(kF9, HOTKEYF_SHIFT | HOTKEYF_ALT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.Read(Setting::kHotkeyMouseLeft) == static_cast<int>(word); }, 5000));
    EXPECT_EQ(grabber->grabbed["mouseLeft"], Combo(kF9, HOTKEYF_SHIFT | HOTKEYF_ALT));

    // A combination that another hotkey has is refused, saying which.
    QTest::keyClick(&left, Qt::Key_F1);
    EXPECT_EQ(left.HotkeyWord(), word);
    EXPECT_EQ(page->Note(kHotkeyLeft), "F1 is already the hotkey for: Mouse / camera activation Hot key");

    QTest::keyClick(&left, Qt::Key_Backspace);
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.Read(Setting::kHotkeyMouseLeft) == 0; }, 5000));
    EXPECT_FALSE(grabber->grabbed.contains("mouseLeft"));
    EXPECT_TRUE(page->Note(kHotkeyLeft).isEmpty());

    grabber->calls.clear();
    sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(grabber->calls.size(), 15u) << "all but the cleared one unregistered and registered";
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(HotkeyPage, AFailedGrabIsTriedAgainUntilItHoldsAndTheProgramsEndLetsGoOfAll) {
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, 0));
    store.Write(Setting::kHotkeyMouseLeft, MakeHotkeyWord(kF6, 0));
    grabber->refused = {kF6};  // held by another program, as by the copy before a restart
    Start();
    EXPECT_NE(LogText().find("Hotkey F6 for Hot key press \"left mouse key\" not registered: another program holds it"),
              std::string::npos);
    grabber->refused.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grabber->grabbed.contains("mouseLeft"); }, 5000));
    EXPECT_NE(LogText().find("Hotkey F6 for Hot key press \"left mouse key\" registered on a later try"),
              std::string::npos);
    sheet.CloseProgramForRestart();
    EXPECT_TRUE(grabber->grabbed.empty());
}

TEST_F(HotkeyPage, WithoutX11ThePageSaysSoAndHowToBindTheActionsByCommandAndTheLogOnce) {
    Start(new CRecordingHotkeyGrabber("cannot open the X11 display \"\""));
    EXPECT_TRUE(page->Way().startsWith(CMivexDlgHotkey::kNeedsX11)) << page->Way().toStdString();
    EXPECT_TRUE(page->Way().contains("mivex --action NAME, NAME one of: toggle, left-click,"));
    const std::string text = LogText(), line = "Hotkeys off: global hotkeys need an X11 session (cannot open";
    EXPECT_TRUE(text.find(line) != std::string::npos && text.find(line) == text.rfind(line)) << text;
}

class HotkeyPortal : public HotkeyPage, public testing::WithParamInterface<unsigned> {
protected:
    void SetUp() override { ASSERT_TRUE(bus.Ok()) << bus.Error(); }
    void TearDown() override {
        delete page;  // before its connection goes
        QDBusConnection::disconnectFromBus("mivex");
    }
    static std::string BusAddress() {
        const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        return address != nullptr ? address : "";
    }
    // The page as start-up makes it in a Wayland session, with the portal running unless told not.
    void StartWithPortal(bool running = true) {
        if (running) {
            ASSERT_TRUE(portal->Start());
        }
        Start(nullptr, new CPortalShortcuts("mivex", QDBusConnection::connectToBus(BusAddress().c_str(), "mivex")));
    }
    bool WaitForWay(const QString& start) const {
        return QTest::qWaitFor([&] { return page->Way().startsWith(start); }, 10000);
    }
    std::vector<std::string> Calls() { return portal->Read(portal->m_calls); }
    bool Logged(const std::string& text) const { return LogText().find(text) != std::string::npos; }

    test::SessionBus bus{home.path(), false};
    std::optional<test::FakePortal> portal{std::in_place, BusAddress(), GetParam()};
};

TEST_P(HotkeyPortal, TheEightActionsAreBoundWithTheStoredKeysAndAnActivationActsAsTheirPressHeldOnce) {
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT));
    store.Write(Setting::kHotkeyMouseLeft, MakeHotkeyWord('A', HOTKEYF_CONTROL | HOTKEYF_ALT));
    store.Write(Setting::kHotkeyMouseMiddle, MakeHotkeyWord(VK_RETURN, HOTKEYF_CONTROL | HOTKEYF_EXT));
    StartWithPortal();
    // Nothing waits for the portal: it has not answered yet.
    EXPECT_EQ(page->Way(), CMivexDlgHotkey::kAsking);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->DesktopKeys(kHotkeyActivate) == "SHIFT+F5"; }, 10000));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Register", "Get", "CreateSession", "BindShortcuts"}));
    EXPECT_TRUE(grabber->grabbed.empty()) << "the desktop takes them, not X11 grabs";
    std::vector<std::string> bound;
    for (const auto& [id, wish] : portal->Read(portal->m_bound))
        bound.push_back(QString("%1 %2: %3")
                            .arg(id, wish.value("preferred_trigger").toString(), wish.value("description").toString())
                            .toStdString());
    EXPECT_EQ(bound,
              (std::vector<std::string>{"toggle SHIFT+F5: Mouse / camera activation Hot key",
                                        "left-click CTRL+ALT+a: Hot key press \"left mouse key\"",
                                        "middle-click CTRL+KP_Enter: Hot key press \"middle mouse key\"",
                                        "right-click : Hot key press \"right mouse key\"",
                                        "double-click : Hot key press 2x \"left  mouse key\" double click",
                                        "middle-lock : Hot key \"lock key\"", "middle-unlock : Hot key \"unlock key\"",
                                        "centre : Centre (Set to front)"}));
    // Version 1 portals bind only the list given as the session is made, where the backend is KDE's.
    EXPECT_EQ(portal->Read(portal->m_createOptions).contains("shortcuts"), GetParam() == 1);
    EXPECT_TRUE(portal->Read(portal->m_session).endsWith(QString("/") + CPortalShortcuts::kSessionToken));
    EXPECT_EQ(page->DesktopKeys(kHotkeyRight), "none");
    EXPECT_EQ(page->Way(), CMivexDlgHotkey::kDesktopShortcuts);

    // Held down: the second activation without a deactivation is not a press.
    for (const char* id : {"toggle", "toggle", "left-click"}) portal->Activate(id);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mouse.GetButton() == CMouse::kButtonLeft; }, 10000));
    EXPECT_TRUE(mirror.m_bMouseActive);
    portal->Activate("toggle", "Deactivated");
    portal->Activate("toggle");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mirror.m_bMouseActive; }, 10000));

    // The user gives an action other keys in the desktop's settings.
    portal->Signal(
        "ShortcutsChanged",
        {QVariant::fromValue(test::PortalShortcuts{{"right-click", {{"trigger_description", "Ctrl+F12"}}}})});
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->DesktopKeys(kHotkeyRight) == "Ctrl+F12"; }, 10000));
    EXPECT_EQ(page->DesktopKeys(kHotkeyActivate), "SHIFT+F5") << "the others stay";

    // A field changed: stored, and bound again in a session of the same handle, the old one closed
    // first (the portal refuses a second session of one handle).
    page->Control(kHotkeyRight)->SetHotKey(kF9, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->DesktopKeys(kHotkeyRight) == "F9"; }, 10000)) << LogText();
    EXPECT_EQ(store.Read(Setting::kHotkeyMouseRight), static_cast<int>(MakeHotkeyWord(kF9, 0)));
    EXPECT_EQ(Calls().back(), "BindShortcuts");
    EXPECT_EQ(std::ranges::count(Calls(), "Close"), 1);
    EXPECT_EQ(std::ranges::count(Calls(), "CreateSession"), 2);
}

// A combination the desktop takes never reaches a field: while one has the focus, the desktop's
// activations do nothing, and the tab says so beside the fields.
TEST_P(HotkeyPortal, WhileAFieldHasTheFocusTheDesktopsActivationsDoNothing) {
    StartWithPortal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->DesktopKeys(kHotkeyActivate) == "none"; }, 10000));
    const QList<QLabel*> labels = page->findChildren<QLabel*>();
    EXPECT_TRUE(std::ranges::any_of(labels, [&](const QLabel* label) {
        return label->text() == CMivexDlgHotkey::kDesktopTakesKeys && label->isVisibleTo(page);
    }));
    sheet.show();
    sheet.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    page->Control(kHotkeyLeft)->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->Recording(); }, 5000));
    portal->Activate("toggle");
    portal->Activate("toggle", "Deactivated");
    QTest::qWait(300);
    EXPECT_FALSE(mirror.m_bMouseActive) << "the desktop's activation acted while a field recorded";
    sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->Recording(); }, 5000));
    portal->Activate("toggle");
    EXPECT_TRUE(QTest::qWaitFor([&] { return mirror.m_bMouseActive.load(); }, 10000));
}

INSTANTIATE_TEST_SUITE_P(Version, HotkeyPortal, testing::Values(1u, 2u));

// As KDE Plasma 5.27: the session takes the shortcuts given as it is made and says their keys;
// its BindShortcuts binds nothing and only opens the desktop's settings, so it is not called.
using HotkeyPortalPlasma = HotkeyPortal;
TEST_P(HotkeyPortalPlasma, TheSessionTakesTheShortcutsAsItIsMadeWithoutBindShortcutsAndNoneBoundIsNoSuccess) {
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT));
    portal->Set({.bindsInCreateSession = true});
    StartWithPortal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->DesktopKeys(kHotkeyActivate) == "SHIFT+F5"; }, 10000));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Register", "Get", "CreateSession"}));
    EXPECT_EQ(portal->Read(portal->m_bound).size(), 8u);
    EXPECT_EQ(page->Way(), CMivexDlgHotkey::kDesktopShortcuts);

    // A desktop that gives none of the actions keys has bound nothing the user can press.
    portal->Set({.bindsInCreateSession = true, .bindNone = true});
    page->Control(kHotkeyRight)->SetHotKey(kF9, 0);
    ASSERT_TRUE(WaitForWay(CMivexDlgHotkey::kBoundNone)) << page->Way().toStdString();
    EXPECT_TRUE(page->Way().contains("mivex --action NAME"));
    EXPECT_EQ(page->DesktopKeys(kHotkeyActivate), "none");
    EXPECT_TRUE(Logged("Hotkeys: the desktop bound none of the shortcuts: toggle none, left-click none")) << LogText();
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Register", "Get", "CreateSession", "Close", "CreateSession"}));
}

INSTANTIATE_TEST_SUITE_P(Version, HotkeyPortalPlasma, testing::Values(1u));

// A desktop that sends no release (kglobalaccel's invokeShortcut) must not lock the action: an
// activation later than a key's repeat would come is a new press, by the desktop's clock.
TEST_P(HotkeyPortal, ActivationsWithoutReleaseAreNewPressesWhenApartByMoreThanAKeyRepeat) {
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, 0));
    StartWithPortal();
    ASSERT_TRUE(WaitForWay(CMivexDlgHotkey::kDesktopShortcuts));
    portal->Activate("toggle", "Activated", 10000);
    portal->Activate("toggle", "Activated", 10400);  // a held key's repeat
    portal->Activate("left-click", "Activated", 10450);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mouse.GetButton() == CMouse::kButtonLeft; }, 10000));
    EXPECT_TRUE(mirror.m_bMouseActive) << "a repeat counted as a press";
    portal->Activate("toggle", "Activated", 11000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mirror.m_bMouseActive; }, 10000)) << "a second press was lost";
    portal->Activate("toggle", "Activated", 12000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mirror.m_bMouseActive.load(); }, 10000)) << "a third press was lost";
}

// The portal starts after the program, stops, and is replaced: the grabs stand in while there is
// none, and each new portal is asked and bound again.
TEST_P(HotkeyPortal, APortalThatStartsLaterOrAnewIsBoundAndTheGrabsStandInWhileThereIsNone) {
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT));
    StartWithPortal(false);
    ASSERT_TRUE(WaitForWay(CMivexDlgHotkey::kX11InWayland)) << page->Way().toStdString();
    EXPECT_TRUE(
        page->Way().contains("The desktop does not take them as its shortcuts either: no desktop portal runs."));
    EXPECT_EQ(grabber->grabbed["mouseActive"], Combo(kF5, HOTKEYF_SHIFT));
    EXPECT_TRUE(Logged("Hotkeys: not the desktop's shortcuts: no desktop portal runs (org.freedesktop.DBus.Error."))
        << LogText();

    ASSERT_TRUE(portal->Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->DesktopKeys(kHotkeyActivate) == "SHIFT+F5"; }, 10000))
        << page->Way().toStdString();
    EXPECT_EQ(page->Way(), CMivexDlgHotkey::kDesktopShortcuts);
    EXPECT_TRUE(grabber->grabbed.empty());

    portal.reset();
    ASSERT_TRUE(WaitForWay(CMivexDlgHotkey::kX11InWayland)) << page->Way().toStdString();
    EXPECT_TRUE(page->Way().contains("the desktop's portal stopped"));
    EXPECT_EQ(grabber->grabbed["mouseActive"], Combo(kF5, HOTKEYF_SHIFT));

    portal.emplace(BusAddress(), GetParam(), "portal2");
    ASSERT_TRUE(portal->Start());
    ASSERT_TRUE(WaitForWay(CMivexDlgHotkey::kDesktopShortcuts)) << page->Way().toStdString();
    EXPECT_EQ(page->DesktopKeys(kHotkeyActivate), "SHIFT+F5");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Register", "Get", "CreateSession", "BindShortcuts"}));
    portal->Activate("toggle");
    ASSERT_TRUE(QTest::qWaitFor([&] { return mirror.m_bMouseActive.load(); }, 10000)) << "the new session acts";
}

// Replies of other types than the interface's: refused in words, the desktop's own in the log,
// and the program carries on; a signal of the wrong types changes nothing.
struct Malformed {
    const char* name;
    test::FakePortal::Behaviour behaviour;
    const char* way;     // how the line that says which way hotkeys go starts
    const char* logged;  // in the log
};

using HotkeyPortalMalformed = HotkeyPortal;
TEST_P(HotkeyPortalMalformed, ARepliesOfTheWrongTypesIsRefusedAndTheProgramCarriesOn) {
    using IntPairs = QList<QPair<int, QString>>;
    qDBusRegisterMetaType<IntPairs::value_type>();
    qDBusRegisterMetaType<IntPairs>();
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, 0));
    const QString unreadable = QString(CMivexDlgHotkey::kRefused).arg(CPortalShortcuts::kUnreadable);
    // clang-format off
    const Malformed cases[] = {
        {"shortcuts a(is)", {.shortcutsAnswer = QVariant::fromValue(IntPairs{{1, "toggle"}})}, "", "BindShortcuts gave shortcuts of type a(is)"},
        {"trigger of type i", {.shortcutsAnswer = QVariant::fromValue(test::PortalShortcuts{{"toggle", {{"trigger_description", 5}}}})}, "", "BindShortcuts gave a trigger_description of type i"},
        {"response of type s", {.response = QString("0")}, "", "CreateSession answered sa{sv}"},
        {"version int32 -1", {.version = -1}, CMivexDlgHotkey::kX11InWayland, "not the desktop's shortcuts: the desktop's answer could not be read (version -1)"},
    };
    // clang-format on
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.name);
        portal->Set(c.behaviour);
        if (page == nullptr) {
            StartWithPortal();
        } else {  // a portal anew asks again
            portal.reset();
            portal.emplace(BusAddress(), GetParam(), c.name);
            portal->Set(c.behaviour);
            ASSERT_TRUE(portal->Start());
        }
        const QString way = *c.way ? QString(c.way) : unreadable;
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->Way().startsWith(way) && Logged(c.logged); }, 10000))
            << page->Way().toStdString() << "\n"
            << LogText();
        if (*c.way == 0) {
            EXPECT_TRUE(Logged(std::string("the desktop refused the shortcuts: ") + CPortalShortcuts::kUnreadable));
        }
    }
    EXPECT_FALSE(page->Way().contains("4294967295"));

    // Well-formed again; then signals of other types are passed over.
    portal.reset();
    portal.emplace(BusAddress(), GetParam(), "well-formed");
    ASSERT_TRUE(portal->Start());
    ASSERT_TRUE(WaitForWay(CMivexDlgHotkey::kDesktopShortcuts)) << page->Way().toStdString();
    portal->Signal("ShortcutsChanged", {QVariant::fromValue(IntPairs{{1, "toggle"}})});
    portal->Signal("Activated", {7, QVariant::fromValue(qulonglong{0}), QVariantMap()});
    portal->Signal("Activated", {QString("toggle"), QString("now"), QVariantMap()});
    portal->Activate("left-click");  // passes through after them: they were read
    portal->Activate("toggle");
    ASSERT_TRUE(QTest::qWaitFor([&] { return mirror.m_bMouseActive.load(); }, 10000));
    EXPECT_EQ(mouse.GetButton(), CMouse::kButtonNone) << "left-click came while mouse control was off";
    EXPECT_EQ(page->Way(), CMivexDlgHotkey::kDesktopShortcuts);
}

INSTANTIATE_TEST_SUITE_P(Version, HotkeyPortalMalformed, testing::Values(1u));

// What the desktop says reaches the page and the log only as printable text; a desktop without
// the interface (GNOME 43) is told in words, with the way to bind the actions by command.
TEST_P(HotkeyPortal, TheDesktopsTextsArePrintableAndADesktopWithoutTheInterfaceIsToldInWords) {
    portal->Set({.shortcutsAnswer = QVariant::fromValue(
                     test::PortalShortcuts{{"toggle", {{"trigger_description", "F5\x1b[31m\r\nforged"}}}})});
    StartWithPortal();
    ASSERT_TRUE(WaitForWay(CMivexDlgHotkey::kDesktopShortcuts)) << page->Way().toStdString();
    EXPECT_EQ(page->DesktopKeys(kHotkeyActivate), "F5\\x1b[31m\\r\\nforged");
    EXPECT_TRUE(Logged("Hotkeys are the desktop's shortcuts: toggle F5\\x1b[31m\\r\\nforged, left-click none"))
        << LogText();

    portal.reset();
    portal.emplace(BusAddress(), GetParam(), "gnome");
    portal->Set({.noInterface = true});
    ASSERT_TRUE(portal->Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->Way().contains("offers no global shortcuts"); }, 10000))
        << page->Way().toStdString();
    EXPECT_EQ(page->Way().toStdString(),
              std::string(CMivexDlgHotkey::kX11InWayland) +
                  " The desktop does not take them as its shortcuts either: this desktop offers no global shortcuts "
                  "to programs yet.\nEach action can be bound as a custom shortcut in the desktop's keyboard "
                  "settings, to the command mivex --action NAME, NAME one of: toggle, left-click, middle-click, "
                  "right-click, double-click, middle-lock, middle-unlock, centre.");
    EXPECT_TRUE(
        Logged("Hotkeys: not the desktop's shortcuts: this desktop offers no global shortcuts to programs yet "
               "(org.freedesktop.DBus.Error.InvalidArgs: No such interface)"))
        << LogText();
}

using HotkeyPortalRefusing = HotkeyPortal;
TEST_P(HotkeyPortalRefusing, ARefusedBindingIsShownWithTheWayToBindTheActionsByCommandAndLogged) {
    portal->Set({.refuse = true});
    StartWithPortal();
    const QString refused = "The desktop refused the shortcuts (BindShortcuts was refused): hotkeys are off.";
    ASSERT_TRUE(WaitForWay(refused)) << page->Way().toStdString();
    EXPECT_TRUE(page->Way().contains("mivex --action NAME"));
    EXPECT_TRUE(Logged("Hotkeys: the desktop refused the shortcuts: BindShortcuts was refused"));
}

INSTANTIATE_TEST_SUITE_P(Version, HotkeyPortalRefusing, testing::Values(1u));

// The control: what a key press records and how it reads.
TEST(HotKeyCtrl, RecordsOneKeyWithShiftCtrlAltAndReadsAsItsCombination) {
    // clang-format off
    const struct { Qt::Key key; Qt::KeyboardModifiers modifiers; std::uint32_t word; const char* text; } cases[] = {
        {Qt::Key_F5, Qt::ShiftModifier, MakeHotkeyWord(kF5, HOTKEYF_SHIFT), "Shift+F5"},
        {Qt::Key_A, Qt::ControlModifier | Qt::AltModifier, MakeHotkeyWord('A', HOTKEYF_CONTROL | HOTKEYF_ALT), "Ctrl+Alt+A"},
        {Qt::Key_1, Qt::KeypadModifier, MakeHotkeyWord(VK_NUMPAD0 + 1, 0), "Num+1"},
        {Qt::Key_Space, Qt::MetaModifier, MakeHotkeyWord(VK_SPACE, 0), "Space"},   // no Meta in a hotkey
        {Qt::Key_Shift, Qt::ShiftModifier, 0, "None"},                             // a modifier alone is none
        // Punctuation, the lock keys, Print and Menu; the extended keys carry their flag.
        {Qt::Key_Semicolon, Qt::ControlModifier, MakeHotkeyWord(VK_OEM_1, HOTKEYF_CONTROL), "Ctrl+;"},
        {Qt::Key_BracketRight, Qt::NoModifier, MakeHotkeyWord(VK_OEM_6, 0), "]"},
        {Qt::Key_Apostrophe, Qt::AltModifier, MakeHotkeyWord(VK_OEM_7, HOTKEYF_ALT), "Alt+'"},
        {Qt::Key_Minus, Qt::KeypadModifier, MakeHotkeyWord(VK_SUBTRACT, 0), "Num+-"},
        {Qt::Key_ScrollLock, Qt::NoModifier, MakeHotkeyWord(VK_SCROLL, 0), "ScrollLock"},
        {Qt::Key_NumLock, Qt::NoModifier, MakeHotkeyWord(VK_NUMLOCK, HOTKEYF_EXT), "NumLock"},
        {Qt::Key_Print, Qt::ShiftModifier, MakeHotkeyWord(VK_SNAPSHOT, HOTKEYF_SHIFT | HOTKEYF_EXT), "Shift+Print"},
        {Qt::Key_Menu, Qt::NoModifier, MakeHotkeyWord(VK_APPS, HOTKEYF_EXT), "Menu"},
        {Qt::Key_Enter, Qt::KeypadModifier, MakeHotkeyWord(VK_RETURN, HOTKEYF_EXT), "Num+Enter"},
        {Qt::Key_Return, Qt::NoModifier, MakeHotkeyWord(VK_RETURN, 0), "Return"},
        {Qt::Key_Home, Qt::NoModifier, MakeHotkeyWord(VK_HOME, HOTKEYF_EXT), "Home"},
    };
    // clang-format on
    for (const auto& c : cases) {
        CHotKeyCtrl control;
        QTest::keyClick(&control, c.key, c.modifiers);
        EXPECT_EQ(std::pair(control.HotkeyWord(), control.text()), std::pair(c.word, QString(c.text)));
    }
}

TEST(HotKeyCtrl, ModifiersHeldWithoutAKeyAreNotShownOnceTheFocusHasMovedOn) {
    // A window that is not the active one moves its focus without telling the control.
    QWidget window, other;
    auto* control = new CHotKeyCtrl(&window);
    auto* next = new CHotKeyCtrl(&window);
    window.show();
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    control->setFocus();
    QTest::keyPress(control, Qt::Key_Control);
    QTest::keyPress(control, Qt::Key_Alt, Qt::ControlModifier);
    EXPECT_EQ(control->text(), "Ctrl+Alt+");
    next->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return control->text() == "None"; }, 5000)) << control->text().toStdString();
}

// The X11 grabber on a private X server, through the page as the program runs it.
TEST_F(HotkeyPage, OnX11ShiftedCombinationsWorkWithAndWithoutNumLockOneHeldElsewhereIsLoggedAndTheEndLetsGo) {
    test::XvfbServer xvfb;
    ASSERT_TRUE(xvfb.Ok()) << xvfb.Error();
    Display* keyboard = XOpenDisplay(xvfb.DisplayName().c_str());
    ASSERT_NE(keyboard, nullptr);
    const char* name = xvfb.DisplayName().c_str();
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT));
    store.Write(Setting::kHotkeyMouseLeft, MakeHotkeyWord(kF6, HOTKEYF_SHIFT));
    CX11HotkeyGrabber other(name);
    std::string whyNot;
    ASSERT_TRUE(other.Register("any", kF6, HOTKEYF_SHIFT, whyNot)) << whyNot;
    // Keypad Enter, not Enter; the key right of L by its place.
    store.Write(Setting::kHotkeyMouseRight, MakeHotkeyWord(VK_RETURN, HOTKEYF_CONTROL | HOTKEYF_EXT));
    store.Write(Setting::kHotkeyMouseMiddle, MakeHotkeyWord(VK_OEM_1, HOTKEYF_CONTROL));
    Start(new CX11HotkeyGrabber(name));
    EXPECT_TRUE(LogText().ends_with(
        "Hotkey Shift+F6 for Hot key press \"left mouse key\" not registered: another program holds it\r\n"))
        << LogText();
    auto press = [&](const std::vector<KeySym>& keys) {
        for (bool down : {true, false})
            for (KeySym key : keys) XTestFakeKeyEvent(keyboard, XKeysymToKeycode(keyboard, key), down, CurrentTime);
        XSync(keyboard, False);
    };
    press({XK_Shift_L, XK_F5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return mirror.m_bMouseActive.load(); }, 5000)) << "Shift+F5";
    EXPECT_TRUE(other.Register("probe", VK_RETURN, HOTKEYF_CONTROL, whyNot)) << "Enter is not keypad Enter: " << whyNot;
    other.Unregister("probe");
    for (const auto& [keys, button] : {std::pair{std::vector<KeySym>{XK_Control_L, XK_KP_Enter}, CMouse::kButtonRight},
                                       {{XK_Control_L, XK_semicolon}, CMouse::kButtonMiddle}}) {
        press(keys);
        EXPECT_TRUE(QTest::qWaitFor([&] { return mouse.GetButton() == button; }, 5000)) << keys.back();
        mouse.Arm(CMouse::kButtonNone, 0);
    }
    // The other program lets go: the page takes it on a later try.
    other.Unregister("any");
    ASSERT_TRUE(QTest::qWaitFor([&] { return LogText().find("on a later try") != std::string::npos; }, 5000));
    press({XK_Num_Lock});
    press({XK_Shift_L, XK_F5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mirror.m_bMouseActive; }, 5000)) << "Shift+F5 with Num Lock";
    press({XK_Num_Lock});

    // Shift+1 types "!", which names no key: the control names the key by its place on the keyboard.
    sheet.show();
    QKeyEvent exclam(QEvent::KeyPress, Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier,
                     XKeysymToKeycode(keyboard, XK_1), XK_exclam, ShiftMask | ControlMask, "!");
    QApplication::sendEvent(page->Control(kHotkeyActivate), &exclam);
    const int shiftOne = static_cast<int>(MakeHotkeyWord('1', HOTKEYF_SHIFT | HOTKEYF_CONTROL));
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.Read(Setting::kHotkeyMouse) == shiftOne; }, 5000))
        << CHotKeyCtrl::Text(store.Read(Setting::kHotkeyMouse)).toStdString();
    press({XK_Control_L, XK_Shift_L, XK_1});
    ASSERT_TRUE(QTest::qWaitFor([&] { return mirror.m_bMouseActive.load(); }, 5000)) << "Ctrl+Shift+1";
    XCloseDisplay(keyboard);

    EXPECT_FALSE(other.Register("mouseActive", '1', HOTKEYF_SHIFT | HOTKEYF_CONTROL, whyNot)) << "the page holds it";
    sheet.CloseProgramForRestart();
    EXPECT_TRUE(other.Register("mouseActive", '1', HOTKEYF_SHIFT | HOTKEYF_CONTROL, whyNot))
        << "the page let go: " << whyNot;
    delete page;  // before its display goes
}

}  // namespace

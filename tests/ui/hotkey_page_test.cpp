// The "Hotkeys" page: its controls, what it stores and grabs and when, and what each hotkey does;
// with a recording grabber offscreen, and with the X11 grabber on a private Xvfb.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "control_ids.h"
#include "hotkey_ctrl.h"
#include "hotkey_page.h"
#include "input_event.h"
#include "logging.h"
#include "main_sheet.h"
#include "page_fixture.h"
#include "recording_hotkey_grabber.h"
#include "x11_hotkey_grabber.h"
#include "xvfb_server.h"  // Xlib last: its macros break Qt's headers

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace ControlIds;

constexpr int kDeadlineMs = 5000;
constexpr std::uint16_t kF5 = VK_F1 + 4, kF6 = VK_F1 + 5, kF9 = VK_F1 + 8;

CRecordingHotkeyGrabber::Combination Combo(std::uint16_t vk, int modifiers) {
    return {vk, static_cast<std::uint16_t>(modifiers)};
}

struct FakeViewCentre final : IViewCentre {
    void CentreView() override { ++centred; }
    int centred = 0;
};

// The page's rows; the fixture stores F1 ... F8 for them, Ctrl+F1 for the activation.
const std::pair<int, const SettingKey*> kHotkeys[] = {{kHotkeyActivate, &Setting::kHotkeyMouse},
                                                      {kHotkeyLeft, &Setting::kHotkeyMouseLeft},
                                                      {kHotkeyMiddle, &Setting::kHotkeyMouseMiddle},
                                                      {kHotkeyRight, &Setting::kHotkeyMouseRight},
                                                      {kHotkeyDouble, &Setting::kHotkeyMouseLDouble},
                                                      {kHotkeyMiddleLock, &Setting::kHotkeyMouseMiddleLock},
                                                      {kHotkeyMiddleUnlock, &Setting::kHotkeyMouseMiddleUnlock},
                                                      {kHotkeyCentre, &Setting::kHotkeySimCentre}};
std::uint16_t KeyOf(int controlId) {
    for (int row = 0; row < 8; ++row)
        if (kHotkeys[row].first == controlId) return static_cast<std::uint16_t>(VK_F1 + row);
    return 0;
}

class HotkeyPage : public PageFixture {
protected:
    void SetUp() override {
        log.Open();
        host.log = &log;
        host.viewCentre = &view;
    }
    // Stores the fixture's keys where a test stored none, and starts the page as start-up does,
    // with the recording grabber unless given another.
    void Start(IHotkeyGrabber* other = nullptr) {
        for (const auto& [id, key] : kHotkeys)
            if (!store.Contains(key->section, key->key))
                store.Write(*key, MakeHotkeyWord(KeyOf(id), id == kHotkeyActivate ? HOTKEYF_CONTROL : 0));
        page = new CMivexDlgHotkey(host, std::unique_ptr<IHotkeyGrabber>(other ? other : grabber));
        if (other) delete grabber;
        sheet.AddPage(page);
        sheet.SetActivePage(0);
    }
    std::string LogText() const { return test::ReadFile(log.FilePath()); }

    FakeViewCentre view;
    CLogging log{store, home.path()};
    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet{stopAll};
    CMivexDlgHotkey* page = nullptr;
    CRecordingHotkeyGrabber* grabber = new CRecordingHotkeyGrabber;
};

TEST_F(HotkeyPage, StartUpShowsAndGrabsTheStoredHotkeysInItsOrder) {
    store.Write(Setting::kHotkeyMouseRight, 0);
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT));
    Start();
    EXPECT_EQ(page->Control(kHotkeyActivate)->text(), "Shift+F5");
    EXPECT_EQ(page->Control(kHotkeyRight)->text(), "None");
    std::vector<std::string> order;
    for (std::string atom : {"mouseActive", "mouseLeft", "mouseMiddle", "mouseMiddleLock", "mouseMiddleUnlock",
                             "mouseLDouble", "simCentre"})
        order.insert(order.end(), {"unregister " + atom, "register " + atom});
    EXPECT_EQ(grabber->calls, order);
    EXPECT_EQ(grabber->grabbed["mouseActive"], Combo(kF5, HOTKEYF_SHIFT));
}

// What a press does, with mouse control on or off, when the fixture's keys are stored.
struct Press {
    const char* name;
    bool mouseActive;
    int pressed;  // control id
    bool activeAfter;
    std::vector<InputEvent> injected;
    int button, clickType;  // armed
    int centred;            // view centred, and head position reset
};
void PrintTo(const Press& press, std::ostream* out) { *out << press.name; }

// clang-format off
const Press kPresses[] = {
    {"ActivationSwitchesOn", false, kHotkeyActivate, true, {}, CMouse::kButtonNone, 0, 0},
    {"ActivationSwitchesOffAndReleasesTheMiddleButton", true, kHotkeyActivate, false,
     {InputEvent::Mouse(MOUSEEVENTF_MIDDLEUP)}, CMouse::kButtonNone, 0, 0},
    {"ClicksDoNothingWhileOff", false, kHotkeyLeft, false, {}, CMouse::kButtonNone, 0, 0},
    {"HoldDoesNothingWhileOff", false, kHotkeyMiddleLock, false, {}, CMouse::kButtonNone, 0, 0},
    {"CentreDoesNothingWhileOff", false, kHotkeyCentre, false, {}, CMouse::kButtonNone, 0, 0},
    {"LeftArmsASingleClick", true, kHotkeyLeft, true, {}, CMouse::kButtonLeft, CMouse::kClickSingle, 0},
    {"MiddleArmsASingleClick", true, kHotkeyMiddle, true, {}, CMouse::kButtonMiddle, CMouse::kClickSingle, 0},
    {"RightArmsASingleClick", true, kHotkeyRight, true, {}, CMouse::kButtonRight, CMouse::kClickSingle, 0},
    {"DoubleArmsADoubleClick", true, kHotkeyDouble, true, {}, CMouse::kButtonLeft, CMouse::kClickDouble, 0},
    {"HoldPressesTheMiddleButtonAtOnce", true, kHotkeyMiddleLock, true,
     {InputEvent::Mouse(MOUSEEVENTF_MIDDLEDOWN)}, CMouse::kButtonNone, 0, 0},
    {"ReleaseLetsGoAtOnce", true, kHotkeyMiddleUnlock, true,
     {InputEvent::Mouse(MOUSEEVENTF_MIDDLEUP)}, CMouse::kButtonNone, 0, 0},
    {"CentreCentresTheViewAndResetsTheHead", true, kHotkeyCentre, true, {}, CMouse::kButtonNone, 0, 1},
};
// clang-format on

class HotkeyPress : public HotkeyPage, public testing::WithParamInterface<Press> {};

TEST_P(HotkeyPress, ActsAsTheTableSays) {
    const Press& c = GetParam();
    Start();
    mirror.m_bMouseActive = c.mouseActive;
    const std::uint16_t modifiers = c.pressed == kHotkeyActivate ? HOTKEYF_CONTROL : 0;
    ASSERT_TRUE(grabber->Press(KeyOf(c.pressed), modifiers));
    EXPECT_EQ(mirror.m_bMouseActive, c.activeAfter);
    EXPECT_EQ(injector.Events(), c.injected);
    EXPECT_EQ(mouse.GetButton(), c.button);
    EXPECT_EQ(mouse.GetClickType(), c.clickType);
    EXPECT_EQ(view.centred, c.centred);
    EXPECT_EQ(engine.resets, c.centred);
    EXPECT_FALSE(grabber->Press(KeyOf(c.pressed), modifiers ^ HOTKEYF_SHIFT)) << "another combination";
}

INSTANTIATE_TEST_SUITE_P(Page, HotkeyPress, testing::ValuesIn(kPresses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HotkeyPage, TwoControlsWithOneCombinationActAsTheFirstInDispatchOrder) {
    Start();
    mirror.m_bMouseActive = true;
    // The hold row comes before the middle row on the page, after it in the dispatch.
    page->Control(kHotkeyMiddleLock)->SetHotKey(KeyOf(kHotkeyMiddle), 0);
    grabber->grabbed["mouseMiddleLock"] = Combo(KeyOf(kHotkeyMiddle), 0);
    ASSERT_TRUE(grabber->Press(KeyOf(kHotkeyMiddle), 0));
    EXPECT_EQ(mouse.GetButton(), CMouse::kButtonMiddle);
    EXPECT_TRUE(injector.Events().empty()) << "the hold hotkey acted too";
}

TEST_F(HotkeyPage, AChangeWhileActiveIsStoredAndGrabbedAndOkGrabsAllEightAndHides) {
    Start();
    sheet.show();
    sheet.SetActivePage(0);
    CHotKeyCtrl& left = *page->Control(kHotkeyLeft);
    QTest::keyClick(&left, Qt::Key_F9, Qt::ShiftModifier | Qt::AltModifier);
    const std::uint32_t word = MakeHotkeyWord(kF9, HOTKEYF_SHIFT | HOTKEYF_ALT);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return store.Read(Setting::kHotkeyMouseLeft) == static_cast<int>(word); }, kDeadlineMs));
    EXPECT_EQ(grabber->grabbed["mouseLeft"], Combo(kF9, HOTKEYF_SHIFT | HOTKEYF_ALT));

    QTest::keyClick(&left, Qt::Key_Backspace);
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.Read(Setting::kHotkeyMouseLeft) == 0; }, kDeadlineMs));
    EXPECT_FALSE(grabber->grabbed.contains("mouseLeft"));

    grabber->calls.clear();
    sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(grabber->calls.size(), 15u) << "all but the cleared one unregistered and registered";
    EXPECT_EQ(grabber->calls.back(), "register simCentre");
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(HotkeyPage, ACombinationHeldElsewhereIsLoggedByName) {
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT | HOTKEYF_CONTROL));
    grabber->heldElsewhere.insert(Combo(kF5, HOTKEYF_SHIFT | HOTKEYF_CONTROL));
    Start();
    EXPECT_TRUE(LogText().ends_with("Hotkey Ctrl+Shift+F5 not registered: held by another program\r\n")) << LogText();
    EXPECT_EQ(page->Control(kHotkeyActivate)->text(), "Ctrl+Shift+F5") << "the control still shows it";
}

TEST_F(HotkeyPage, WithoutX11ThePageSaysSoInOneLineAndTheLogOnce) {
    Start(new CRecordingHotkeyGrabber("cannot open the X11 display \"\""));
    page->OnOK();
    EXPECT_EQ(page->findChildren<QLabel*>().front()->text(), CMivexDlgHotkey::kNeedsX11);
    const std::string text = LogText();
    const std::string line = "Hotkeys off: global hotkeys need an X11 session (cannot open the X11 display \"\")\r\n";
    EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_EQ(text.find(line), text.rfind(line)) << text;
    EXPECT_EQ(text.find("not registered"), std::string::npos) << text;
}

// The control: what a key press records and how it reads.
struct Typed {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::uint32_t word;
    const char* text;
};

TEST(HotKeyCtrl, RecordsOneKeyWithShiftCtrlAltAndReadsAsItsCombination) {
    // clang-format off
    const Typed cases[] = {
        {Qt::Key_F5, Qt::ShiftModifier, MakeHotkeyWord(kF5, HOTKEYF_SHIFT), "Shift+F5"},
        {Qt::Key_A, Qt::ControlModifier | Qt::AltModifier, MakeHotkeyWord('A', HOTKEYF_CONTROL | HOTKEYF_ALT), "Ctrl+Alt+A"},
        {Qt::Key_1, Qt::KeypadModifier, MakeHotkeyWord(VK_NUMPAD0 + 1, 0), "Num+1"},
        {Qt::Key_Left, Qt::KeypadModifier | Qt::ShiftModifier, MakeHotkeyWord(VK_LEFT, HOTKEYF_SHIFT), "Shift+Left"},
        {Qt::Key_Space, Qt::MetaModifier, MakeHotkeyWord(VK_SPACE, 0), "Space"},   // no Meta in a hotkey
        {Qt::Key_Shift, Qt::ShiftModifier, 0, "None"},                             // a modifier alone is none
        {Qt::Key_Eacute, Qt::NoModifier, 0, "None"},                               // no virtual key
    };
    // clang-format on
    for (const Typed& c : cases) {
        CHotKeyCtrl control;
        QTest::keyClick(&control, c.key, c.modifiers);
        EXPECT_EQ(control.HotkeyWord(), c.word) << c.text;
        EXPECT_EQ(control.text(), c.text);
        EXPECT_EQ(CHotKeyCtrl::Text(c.word), c.text);
    }
}

// The X11 grabber on a private X server, through the page as the program runs it.
TEST_F(HotkeyPage, OnX11ShiftF5IsRecognisedWithAndWithoutNumLockHeldCombinationsAreRefusedAndTheEndLetsGo) {
    test::XvfbServer xvfb;
    ASSERT_TRUE(xvfb.Ok()) << xvfb.Error();
    Display* keyboard = XOpenDisplay(xvfb.DisplayName().c_str());
    ASSERT_NE(keyboard, nullptr);
    const char* name = xvfb.DisplayName().c_str();
    store.Write(Setting::kHotkeyMouse, MakeHotkeyWord(kF5, HOTKEYF_SHIFT));
    CX11HotkeyGrabber first(name), second(name);
    std::string whyNot;
    ASSERT_TRUE(first.Register("any", kF6, HOTKEYF_SHIFT, whyNot)) << whyNot;
    Start(new CX11HotkeyGrabber(name));
    auto press = [&](std::initializer_list<KeySym> keys) {
        for (bool down : {true, false})
            for (KeySym key : keys) XTestFakeKeyEvent(keyboard, XKeysymToKeycode(keyboard, key), down, CurrentTime);
        XSync(keyboard, False);
    };
    press({XK_Shift_L, XK_F5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return mirror.m_bMouseActive.load(); }, kDeadlineMs)) << "Shift+F5";
    press({XK_Num_Lock});
    press({XK_Shift_L, XK_F5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mirror.m_bMouseActive; }, kDeadlineMs)) << "Shift+F5 with Num Lock";
    press({XK_Num_Lock});
    XCloseDisplay(keyboard);

    EXPECT_FALSE(second.Register("mouseLeft", kF6, HOTKEYF_SHIFT, whyNot));
    EXPECT_EQ(whyNot, "another program holds it");
    EXPECT_TRUE(second.Register("mouseLeft", kF6, HOTKEYF_CONTROL, whyNot)) << whyNot;
    EXPECT_FALSE(second.Register("mouseActive", kF5, HOTKEYF_SHIFT, whyNot)) << "the page holds it";
    delete page;
    EXPECT_TRUE(second.Register("mouseActive", kF5, HOTKEYF_SHIFT, whyNot)) << "the page let go: " << whyNot;
}

}  // namespace

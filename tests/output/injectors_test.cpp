// The injectors: the translation to kernel events and the uinput device where /dev/uinput can be
// written, the buttons an injector lets go of, XTest and the choice between them against a
// private Xvfb started here.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "injector_selection.h"
#include "pressed_buttons.h"
#include "test_support.h"
#include "uinput_injector.h"
#include "virtual_keys.h"
#include "xvfb_server.h"

#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
using Kernel = std::vector<EvdevEvent>;

constexpr EvdevEvent kSyn{EV_SYN, SYN_REPORT, 0};
constexpr InputEvent Button(std::uint32_t flags) { return InputEvent::Mouse(flags); }
Kernel Key(unsigned int code, int value) { return {{EV_KEY, code, value}, kSyn}; }

TEST(UinputTranslation, EachButtonAndKeyTransitionIsAReportOfItsOwn) {
    const std::pair<InputEvent, Kernel> cases[] = {
        {InputEvent::Mouse(MOUSEEVENTF_MOVE, 10, -5), {{EV_REL, REL_X, 10}, {EV_REL, REL_Y, -5}, kSyn}},
        {InputEvent::Mouse(MOUSEEVENTF_MOVE, 0, 7), {{EV_REL, REL_Y, 7}, kSyn}},
        {InputEvent::Mouse(MOUSEEVENTF_MOVE, 0, 0), {}},
        {InputEvent::Mouse(0, 10, 10), {}},  // amounts without the MOVE flag are ignored
        {Button(MOUSEEVENTF_LEFTDOWN), Key(BTN_LEFT, 1)},     {Button(MOUSEEVENTF_LEFTUP), Key(BTN_LEFT, 0)},
        {Button(MOUSEEVENTF_RIGHTDOWN), Key(BTN_RIGHT, 1)},   {Button(MOUSEEVENTF_RIGHTUP), Key(BTN_RIGHT, 0)},
        {Button(MOUSEEVENTF_MIDDLEDOWN), Key(BTN_MIDDLE, 1)}, {Button(MOUSEEVENTF_MIDDLEUP), Key(BTN_MIDDLE, 0)},
        // A click in one event must stay a press and a release, not one report that cancels out.
        {InputEvent::Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 2, 0),
         {{EV_REL, REL_X, 2}, kSyn, {EV_KEY, BTN_LEFT, 1}, kSyn, {EV_KEY, BTN_LEFT, 0}, kSyn}},
        {InputEvent::Keyboard(VK_CONTROL, 0), Key(KEY_LEFTCTRL, 1)},
        {InputEvent::Keyboard(VK_CONTROL, KEYEVENTF_KEYUP), Key(KEY_LEFTCTRL, 0)},
        {InputEvent::Keyboard(VK_SPACE, KEYEVENTF_KEYUP), Key(KEY_SPACE, 0)},
        {InputEvent::Keyboard(0xFF, 0), {}},  // a key without a code is dropped
    };
    for (const auto& [event, kernel] : cases) {
        const EvdevBatch batch = TranslateToEvdev(event);
        EXPECT_EQ(Kernel(batch.begin(), batch.end()), kernel) << event;
    }
    // Letters follow the keyboard's rows in KEY_* numbering, not the alphabet.
    for (auto [vk, code] : std::vector<std::pair<std::uint16_t, int>>{
             {'A', KEY_A}, {'Q', KEY_Q}, {'Z', KEY_Z}, {'0', KEY_0}, {'9', KEY_9},
             {VK_F1, KEY_F1}, {VK_F1 + 11, KEY_F12}, {VK_F24, KEY_F24}, {VK_NUMPAD0 + 7, KEY_KP7}})
        EXPECT_EQ(VirtualKeyToEvdevCode(vk), code) << "virtual key 0x" << std::hex << vk;
}

TEST(PressedButtons, KeepsWhatIsStillDownAndReleasesItInOneEvent) {
    CPressedButtons pressed;
    EXPECT_FALSE(pressed.ReleaseEvent());
    for (InputEvent event : {Button(MOUSEEVENTF_LEFTDOWN), Button(MOUSEEVENTF_MIDDLEDOWN),
                             Button(MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_RIGHTUP), InputEvent::Keyboard(VK_CONTROL, 0)})
        pressed.Note(event);
    EXPECT_EQ(pressed.ReleaseEvent(), Button(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MIDDLEUP));
    pressed.Note(Button(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MIDDLEUP));
    EXPECT_FALSE(pressed.Any() || pressed.ReleaseEvent());
}

TEST(UinputDevice, IsCreatedAndRemovedWhenDevUinputIsWritable) {
    std::string whyNot;
    auto injector = CUinputInjector::Create("/dev/uinput", whyNot);
    if (!injector) {
        // CI has no /dev/uinput: say loudly that the device was not exercised, and pass.
        const std::string note = "NOT TESTED: the uinput device itself was not created (" + whyNot +
                                 "); only the translation to kernel events was tested";
        std::cout << "[   NOTE   ] " << note << std::endl;
        RecordProperty("uinput", note);
        return;
    }
    EXPECT_FALSE(injector->DeviceNode().empty());
    injector->Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, 1, 0));
    injector->Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, -1, 0));
    injector->Send(Button(MOUSEEVENTF_MIDDLEDOWN));
    injector.reset();  // releases the middle button, then removes the device
}

// Waits for what the server does on behalf of another connection.
bool WaitFor(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

// One private server for the whole sequence: XTest is chosen, then moves, clicks and types into a
// window of ours, and lets go of what it holds when it goes away.
TEST(XTest, IsChosenWithoutUinputAndMovesClicksTypesAndLetsGo) {
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    Display* x = XOpenDisplay(server.DisplayName().c_str());
    ASSERT_NE(x, nullptr) << "cannot open " << server.DisplayName();
    const Window root = DefaultRootWindow(x);
    // The amounts as sent: Xvfb 21 does not accelerate XTest motion, but its default control
    // (2/1 above 4 pixels) would double a 10-pixel move on a server that did.
    XChangePointerControl(x, True, True, 1, 1, 0);
    InjectorSelection selection =
        SelectInputInjector({.uinputPath = "/nonexistent/uinput", .displayName = server.DisplayName().c_str()});
    ASSERT_EQ(selection.kind, InjectorKind::XTest) << selection.text;
    EXPECT_NE(selection.text.find("XTest"), std::string::npos) << selection.text;
    EXPECT_NE(selection.text.find(server.DisplayName()), std::string::npos) << selection.text;
    EXPECT_NE(selection.text.find("/nonexistent/uinput: No such file"), std::string::npos) << selection.text;
    IInputInjector& injector = *selection.injector;
    int pointerX = 0, pointerY = 0;
    unsigned int buttons = 0;
    const auto queryPointer = [&] {
        Window rootReturn = 0, child = 0;
        int winX = 0, winY = 0;
        XQueryPointer(x, root, &rootReturn, &child, &pointerX, &pointerY, &winX, &winY, &buttons);
    };

    XWarpPointer(x, None, root, 0, 0, 0, 0, 500, 400);
    XSync(x, False);
    injector.Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, 10, -5));
    ASSERT_TRUE(WaitFor([&] { return queryPointer(), pointerX != 500; })) << "the pointer did not move";
    EXPECT_EQ(pointerX, 510);
    EXPECT_EQ(pointerY, 395);

    // A 100x100 window at (200, 200) with the pointer in its middle and the keyboard focus.
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask | StructureNotifyMask;
    const Window window = XCreateWindow(x, root, 200, 200, 100, 100, 0, CopyFromParent, InputOutput, CopyFromParent,
                                        CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(x, window);
    XEvent event;
    do XWindowEvent(x, window, StructureNotifyMask, &event);
    while (event.type != MapNotify);
    XWarpPointer(x, None, root, 0, 0, 0, 0, 250, 250);
    XSetInputFocus(x, window, RevertToParent, CurrentTime);
    XSync(x, False);
    const auto next = [&](long mask) {
        XEvent arrived{};
        WaitFor([&] { return XCheckWindowEvent(x, window, mask, &arrived); });
        return arrived;
    };
    const std::tuple<std::uint32_t, int, unsigned int> clicks[] = {
        {MOUSEEVENTF_LEFTDOWN, ButtonPress, Button1},   {MOUSEEVENTF_LEFTUP, ButtonRelease, Button1},
        {MOUSEEVENTF_MIDDLEDOWN, ButtonPress, Button2}, {MOUSEEVENTF_MIDDLEUP, ButtonRelease, Button2},
        {MOUSEEVENTF_RIGHTDOWN, ButtonPress, Button3},  {MOUSEEVENTF_RIGHTUP, ButtonRelease, Button3}};
    for (const auto& [flags, type, button] : clicks) {
        injector.Send(Button(flags));
        event = next(ButtonPressMask | ButtonReleaseMask);
        ASSERT_EQ(event.type, type) << "flags 0x" << std::hex << flags << ": no such event arrived";
        EXPECT_EQ(event.xbutton.button, button) << "flags 0x" << std::hex << flags;
        EXPECT_EQ(event.xbutton.x, 50);
    }
    for (auto [vk, keysym] : std::vector<std::pair<std::uint16_t, KeySym>>{
             {VK_CONTROL, XK_Control_L}, {VK_SPACE, XK_space}, {'A', XK_a}, {'7', XK_7}, {VK_F1, XK_F1}}) {
        injector.Send(InputEvent::Keyboard(vk, 0));
        injector.Send(InputEvent::Keyboard(vk, KEYEVENTF_KEYUP));
        event = next(KeyPressMask);
        ASSERT_EQ(event.type, KeyPress) << "virtual key 0x" << std::hex << vk << " did not arrive";
        EXPECT_EQ(XLookupKeysym(&event.xkey, 0), keysym) << "virtual key 0x" << std::hex << vk;
        EXPECT_EQ(next(KeyReleaseMask).type, KeyRelease);
        EXPECT_EQ(KeySymToVirtualKey(keysym), vk);
    }
    EXPECT_EQ(KeySymToVirtualKey(XK_A), 'A');

    injector.Send(Button(MOUSEEVENTF_LEFTDOWN));
    injector.Send(Button(MOUSEEVENTF_MIDDLEDOWN));
    const unsigned int held = Button1Mask | Button2Mask;
    ASSERT_TRUE(WaitFor([&] { return queryPointer(), (buttons & held) == held; }));
    selection.injector.reset();  // the server would keep both down after the client is gone
    EXPECT_TRUE(WaitFor([&] { return queryPointer(), (buttons & held) == 0; })) << "a button stayed down";
    XDestroyWindow(x, window);
    XCloseDisplay(x);
}

TEST(InjectorSelection, NoneWhenNeitherUinputNorADisplayIsThere) {
    test::ScopedEnv noDisplay("DISPLAY", "");
    const InjectorSelection selection = SelectInputInjector({.uinputPath = "/nonexistent/uinput"});
    EXPECT_EQ(selection.kind, InjectorKind::Unavailable);
    EXPECT_EQ(selection.injector, nullptr);
    EXPECT_NE(selection.text.find("/nonexistent/uinput"), std::string::npos) << selection.text;
    EXPECT_NE(selection.text.find("DISPLAY is not set"), std::string::npos) << selection.text;
}

}  // namespace

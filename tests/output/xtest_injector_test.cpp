// The XTest injector and the run-time choice of injector, against a private Xvfb started here.
#include <gtest/gtest.h>

#include "injector_selection.h"
#include "test_support.h"
#include "virtual_keys.h"
#include "xtest_injector.h"
#include "xvfb_server.h"

#include <X11/keysym.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Waits for something the server does on behalf of another connection.
bool WaitFor(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

class XTestInjectorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new test::XvfbServer; }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(s_server->Ok()) << s_server->Error();
        m_display = XOpenDisplay(s_server->DisplayName().c_str());
        ASSERT_NE(m_display, nullptr) << "cannot open " << s_server->DisplayName();
        m_root = DefaultRootWindow(m_display);
        // The tests want the amounts as sent. Xvfb 21 does not accelerate XTest motion, but its
        // default control (2/1 above 4 pixels) would double a 10-pixel move on a server that did.
        XChangePointerControl(m_display, True, True, 1, 1, 0);
        std::string whyNot;
        m_injector = CXTestInjector::Open(s_server->DisplayName().c_str(), whyNot);
        ASSERT_TRUE(m_injector) << whyNot;
    }

    void TearDown() override {
        m_injector.reset();
        if (m_display) XCloseDisplay(m_display);
    }

    void WarpTo(int x, int y) {
        XWarpPointer(m_display, None, m_root, 0, 0, 0, 0, x, y);
        XSync(m_display, False);
    }

    struct Pointer {
        int x, y;
        unsigned int mask;
    };
    Pointer QueryPointer() {
        Window root = 0, child = 0;
        int rootX = 0, rootY = 0, winX = 0, winY = 0;
        unsigned int mask = 0;
        XQueryPointer(m_display, m_root, &root, &child, &rootX, &rootY, &winX, &winY, &mask);
        return {rootX, rootY, mask};
    }

    // A mapped 100x100 window at (200, 200) with the pointer in its middle.
    Window WindowUnderPointer(long eventMask) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = eventMask | StructureNotifyMask;
        const Window window = XCreateWindow(m_display, m_root, 200, 200, 100, 100, 0, CopyFromParent, InputOutput,
                                            CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(m_display, window);
        XEvent event;
        do XWindowEvent(m_display, window, StructureNotifyMask, &event);
        while (event.type != MapNotify);
        WarpTo(250, 250);
        return window;
    }

    // The next event of the given kinds for the window, or type 0 after a few seconds.
    XEvent NextEvent(Window window, long mask) {
        XEvent event{};
        WaitFor([&] { return XCheckWindowEvent(m_display, window, mask, &event) == True; });
        return event;
    }

    static test::XvfbServer* s_server;
    Display* m_display = nullptr;
    Window m_root = 0;
    std::unique_ptr<CXTestInjector> m_injector;
};

test::XvfbServer* XTestInjectorTest::s_server = nullptr;

TEST_F(XTestInjectorTest, RelativeMotionMovesThePointerByExactlyTheAmount) {
    WarpTo(500, 400);
    m_injector->Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, 10, -5));
    ASSERT_TRUE(WaitFor([&] { return QueryPointer().x != 500; })) << "the pointer did not move";
    const Pointer pointer = QueryPointer();
    EXPECT_EQ(pointer.x, 510);
    EXPECT_EQ(pointer.y, 395);
}

TEST_F(XTestInjectorTest, ButtonsReachTheWindowUnderThePointerAsButtonsOneTwoThree) {
    const Window window = WindowUnderPointer(ButtonPressMask | ButtonReleaseMask);
    const long mask = ButtonPressMask | ButtonReleaseMask;
    struct Case {
        std::uint32_t flags;
        int type;
        unsigned int button;
    };
    const Case cases[] = {
        {MOUSEEVENTF_LEFTDOWN, ButtonPress, Button1},   {MOUSEEVENTF_LEFTUP, ButtonRelease, Button1},
        {MOUSEEVENTF_MIDDLEDOWN, ButtonPress, Button2}, {MOUSEEVENTF_MIDDLEUP, ButtonRelease, Button2},
        {MOUSEEVENTF_RIGHTDOWN, ButtonPress, Button3},  {MOUSEEVENTF_RIGHTUP, ButtonRelease, Button3},
    };
    for (const Case& c : cases) {
        m_injector->Send(InputEvent::Mouse(c.flags));
        const XEvent event = NextEvent(window, mask);
        ASSERT_EQ(event.type, c.type) << "flags 0x" << std::hex << c.flags << ": no such event arrived";
        EXPECT_EQ(event.xbutton.button, c.button) << "flags 0x" << std::hex << c.flags;
        EXPECT_EQ(event.xbutton.x, 50);
    }
}

TEST_F(XTestInjectorTest, KeysArriveAsTheirKeySymbols) {
    const Window window = WindowUnderPointer(KeyPressMask | KeyReleaseMask);
    XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
    XSync(m_display, False);
    for (std::uint16_t vk : {VK_CONTROL, VK_SPACE, std::uint16_t('A'), std::uint16_t('7'), VK_F1}) {
        m_injector->Send(InputEvent::Keyboard(vk, 0));
        m_injector->Send(InputEvent::Keyboard(vk, KEYEVENTF_KEYUP));
        XEvent press = NextEvent(window, KeyPressMask);
        ASSERT_EQ(press.type, KeyPress) << "virtual key 0x" << std::hex << vk << " did not arrive";
        EXPECT_EQ(XLookupKeysym(&press.xkey, 0), VirtualKeyToKeySym(vk)) << "virtual key 0x" << std::hex << vk;
        EXPECT_EQ(NextEvent(window, KeyReleaseMask).type, KeyRelease);
    }
    EXPECT_EQ(VirtualKeyToKeySym(VK_CONTROL), static_cast<unsigned long>(XK_Control_L));
    EXPECT_EQ(VirtualKeyToKeySym(VK_SPACE), static_cast<unsigned long>(XK_space));
    EXPECT_EQ(VirtualKeyToKeySym('A'), static_cast<unsigned long>(XK_a));
    EXPECT_EQ(KeySymToVirtualKey(XK_a), 'A');
    EXPECT_EQ(KeySymToVirtualKey(XK_A), 'A');
    EXPECT_EQ(KeySymToVirtualKey(XK_Control_L), VK_CONTROL);
}

TEST_F(XTestInjectorTest, AButtonStillHeldIsReleasedWhenTheInjectorGoesAway) {
    m_injector->Send(InputEvent::Mouse(MOUSEEVENTF_LEFTDOWN));
    m_injector->Send(InputEvent::Mouse(MOUSEEVENTF_MIDDLEDOWN));
    const unsigned int held = Button1Mask | Button2Mask;
    ASSERT_TRUE(WaitFor([&] { return (QueryPointer().mask & held) == held; }));
    m_injector.reset();  // the server would keep both down after the client is gone
    EXPECT_TRUE(WaitFor([&] { return (QueryPointer().mask & held) == 0; }))
        << "a button stayed down after the injector was gone";
}

TEST_F(XTestInjectorTest, SelectionTakesXTestWhenUinputCannotBeOpened) {
    InjectorSelection selection =
        SelectInputInjector({.uinputPath = "/nonexistent/uinput", .displayName = s_server->DisplayName().c_str()});
    EXPECT_EQ(selection.kind, InjectorKind::XTest);
    ASSERT_NE(selection.injector, nullptr);
    EXPECT_NE(selection.text.find("XTest"), std::string::npos) << selection.text;
    EXPECT_NE(selection.text.find(s_server->DisplayName()), std::string::npos) << selection.text;
    EXPECT_NE(selection.text.find("/nonexistent/uinput: No such file"), std::string::npos) << selection.text;

    WarpTo(100, 100);
    selection.injector->Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, 3, 4));
    EXPECT_TRUE(WaitFor([&] { return QueryPointer().x == 103 && QueryPointer().y == 104; }));
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

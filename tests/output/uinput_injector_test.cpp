// The translation of input events to kernel events, the buttons an injector must let go of, and
// the virtual device itself where /dev/uinput can be written.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "pressed_buttons.h"
#include "uinput_injector.h"
#include "virtual_keys.h"

namespace {

using Kernel = std::vector<EvdevEvent>;

Kernel Translate(const InputEvent& event) {
    const EvdevBatch batch = TranslateToEvdev(event);
    return Kernel(batch.begin(), batch.end());
}

const EvdevEvent kSyn{EV_SYN, SYN_REPORT, 0};

TEST(UinputTranslation, MotionBecomesRelativeAxesAndOneReport) {
    EXPECT_EQ(Translate(InputEvent::Mouse(MOUSEEVENTF_MOVE, 10, -5)),
              (Kernel{{EV_REL, REL_X, 10}, {EV_REL, REL_Y, -5}, kSyn}));
    EXPECT_EQ(Translate(InputEvent::Mouse(MOUSEEVENTF_MOVE, 0, 7)), (Kernel{{EV_REL, REL_Y, 7}, kSyn}));
    EXPECT_TRUE(Translate(InputEvent::Mouse(MOUSEEVENTF_MOVE, 0, 0)).empty());
    EXPECT_TRUE(Translate(InputEvent::Mouse(0, 10, 10)).empty()) << "amounts without the MOVE flag are ignored";
    EXPECT_TRUE(Translate(InputEvent::Mouse(0)).empty()) << "an event without flags changes nothing";
}

TEST(UinputTranslation, ButtonsBecomeKeyEventsEachInItsOwnReport) {
    struct Case {
        std::uint32_t flags;
        unsigned int button;
        int value;
    };
    for (const Case& c : {Case{MOUSEEVENTF_LEFTDOWN, BTN_LEFT, 1}, Case{MOUSEEVENTF_LEFTUP, BTN_LEFT, 0},
                          Case{MOUSEEVENTF_RIGHTDOWN, BTN_RIGHT, 1}, Case{MOUSEEVENTF_RIGHTUP, BTN_RIGHT, 0},
                          Case{MOUSEEVENTF_MIDDLEDOWN, BTN_MIDDLE, 1}, Case{MOUSEEVENTF_MIDDLEUP, BTN_MIDDLE, 0}})
        EXPECT_EQ(Translate(InputEvent::Mouse(c.flags)), (Kernel{{EV_KEY, c.button, c.value}, kSyn}))
            << "flags 0x" << std::hex << c.flags;

    // A click in one event must stay a press and a release, not one report that cancels out.
    EXPECT_EQ(Translate(InputEvent::Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 2, 0)),
              (Kernel{{EV_REL, REL_X, 2}, kSyn, {EV_KEY, BTN_LEFT, 1}, kSyn, {EV_KEY, BTN_LEFT, 0}, kSyn}));
}

TEST(UinputTranslation, KeysBecomeTheirKeyCodes) {
    EXPECT_EQ(Translate(InputEvent::Keyboard(VK_CONTROL, 0)), (Kernel{{EV_KEY, KEY_LEFTCTRL, 1}, kSyn}));
    EXPECT_EQ(Translate(InputEvent::Keyboard(VK_CONTROL, KEYEVENTF_KEYUP)), (Kernel{{EV_KEY, KEY_LEFTCTRL, 0}, kSyn}));
    EXPECT_EQ(Translate(InputEvent::Keyboard(VK_SPACE, KEYEVENTF_KEYUP)), (Kernel{{EV_KEY, KEY_SPACE, 0}, kSyn}));
    EXPECT_TRUE(Translate(InputEvent::Keyboard(0xFF, 0)).empty()) << "a key without a code is dropped";

    // Letters follow the keyboard's rows in KEY_* numbering, not the alphabet.
    const std::vector<std::pair<std::uint16_t, int>> keys = {
        {'A', KEY_A}, {'Q', KEY_Q}, {'Z', KEY_Z}, {'0', KEY_0}, {'9', KEY_9},
        {VK_F1, KEY_F1}, {VK_F1 + 11, KEY_F12}, {VK_F24, KEY_F24}, {VK_NUMPAD0 + 7, KEY_KP7}};
    for (const auto& [vk, code] : keys)
        EXPECT_EQ(VirtualKeyToEvdevCode(vk), code) << "virtual key 0x" << std::hex << vk;
}

TEST(PressedButtons, KeepsWhatIsStillDownAndReleasesItInOneEvent) {
    CPressedButtons pressed;
    EXPECT_FALSE(pressed.ReleaseEvent());
    pressed.Note(InputEvent::Mouse(MOUSEEVENTF_LEFTDOWN));
    pressed.Note(InputEvent::Mouse(MOUSEEVENTF_MIDDLEDOWN));
    pressed.Note(InputEvent::Mouse(MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_RIGHTUP));
    pressed.Note(InputEvent::Keyboard(VK_CONTROL, 0));
    EXPECT_EQ(pressed.ReleaseEvent(), InputEvent::Mouse(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MIDDLEUP));

    pressed.Note(InputEvent::Mouse(MOUSEEVENTF_LEFTUP));
    pressed.Note(InputEvent::Mouse(MOUSEEVENTF_MIDDLEUP));
    EXPECT_FALSE(pressed.Any());
    EXPECT_FALSE(pressed.ReleaseEvent());
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
    injector->Send(InputEvent::Mouse(MOUSEEVENTF_MIDDLEDOWN));
    injector.reset();  // releases the middle button, then removes the device
}

TEST(UinputDevice, AMissingDeviceFileIsReportedNotThrown) {
    std::string whyNot;
    EXPECT_EQ(CUinputInjector::Create("/nonexistent/uinput", whyNot), nullptr);
    EXPECT_NE(whyNot.find("/nonexistent/uinput"), std::string::npos) << whyNot;
    EXPECT_NE(whyNot.find("No such file"), std::string::npos) << whyNot;
}

}  // namespace

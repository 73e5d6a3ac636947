// CKeyboard's key events and the Ctrl and space key-ups at shutdown.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "keyboard.h"
#include "recording_injector.h"

namespace {

using Events = std::vector<InputEvent>;

const InputEvent kCtrlUp = InputEvent::Keyboard(VK_CONTROL, KEYEVENTF_KEYUP);

TEST(Keyboard, EveryKeyEventIsPrecededByACtrlKeyUp) {
    CRecordingInjector injector;
    CKeyboard keyboard(injector);
    keyboard.Key(VK_F1 + 4, 1);
    keyboard.Key('A', 0);
    keyboard.Key(VK_SPACE, -1);
    EXPECT_EQ(injector.Events(), (Events{kCtrlUp, InputEvent::Keyboard(VK_F1 + 4, 0), kCtrlUp,
                                         InputEvent::Keyboard('A', KEYEVENTF_KEYUP), kCtrlUp,
                                         InputEvent::Keyboard(VK_SPACE, KEYEVENTF_KEYUP)}));
}

TEST(Keyboard, DestructionReleasesCtrlThenSpace) {
    CRecordingInjector injector;
    std::optional<CKeyboard> keyboard(std::in_place, injector);
    EXPECT_TRUE(injector.Events().empty()) << "inert until destroyed";
    keyboard.reset();
    EXPECT_EQ(injector.Events(), (Events{kCtrlUp, InputEvent::Keyboard(VK_SPACE, KEYEVENTF_KEYUP)}));
    EXPECT_EQ(injector.Events()[1].ki.wScan, 0);
}

}  // namespace

// The capture thread moving while the user-interface thread arms clicks, as in the program.
// Run under ThreadSanitizer to check the hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "mouse.h"
#include "recording_injector.h"

namespace {

bool IsMove(const InputEvent& event) { return event.mi.dwFlags == MOUSEEVENTF_MOVE; }

bool IsPress(std::uint32_t flags) {
    return flags == MOUSEEVENTF_LEFTDOWN || flags == MOUSEEVENTF_MIDDLEDOWN || flags == MOUSEEVENTF_RIGHTDOWN;
}

// The release that belongs to a press: each button's UP flag is its DOWN flag shifted once.
std::uint32_t ReleaseOf(std::uint32_t press) { return press << 1; }

TEST(MouseThreads, ClicksArmedFromTheInterfaceThreadComeWholeBetweenMoves) {
    CSettingsMirror settings;
    settings.m_nSliderSmoothMouse = 2;
    CRecordingInjector injector;
    constexpr int kClicks = 300;
    int expectedClicks = 0;
    int middleReleases = 0;
    {
        CMouse mouse(injector, settings);
        std::atomic<bool> capturing{true};
        std::thread capture([&] {
            float d = 3.0f;
            while (capturing) {
                mouse.Move(d, -d);
                d = -d;
            }
        });

        for (int i = 0; i < kClicks; ++i) {
            const int button = CMouse::kButtonLeft + i % 3;
            const bool isDouble = i % 4 == 0;
            mouse.Arm(button, isDouble ? CMouse::kClickDouble : CMouse::kClickSingle);
            expectedClicks += isDouble ? 2 : 1;
            if (i % 50 == 0) {
                ReleaseMiddleButton(mouse);
                ++middleReleases;
                settings.m_nSliderSmoothMouse = 2 + i / 50;  // a flush now and then
            }
            // What the dwell logic reads while the capture thread writes.
            (void)mouse.GetLastDx();
            (void)mouse.GetLastDy();
            (void)mouse.IsMoved();
            (void)mouse.IsBusy();
            while (mouse.GetButton() != CMouse::kButtonNone) std::this_thread::yield();
        }
        // Let the last double click's repeat out.
        const std::size_t seen = injector.Size();
        while (injector.Size() < seen + 3) std::this_thread::yield();
        capturing = false;
        capture.join();
    }
    ++middleReleases;  // the destructor's

    const std::vector<InputEvent> events = injector.Events();
    int clicks = 0, loneMiddleReleases = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const std::uint32_t flags = events[i].mi.dwFlags;
        if (IsMove(events[i])) continue;
        if (flags == MOUSEEVENTF_MIDDLEUP) {
            ++loneMiddleReleases;
            continue;
        }
        ASSERT_TRUE(IsPress(flags)) << "event " << i << " is " << events[i] << ", not a press";
        ASSERT_LT(i + 1, events.size()) << "a press at the end without its release";
        ASSERT_EQ(events[i + 1].mi.dwFlags, ReleaseOf(flags)) << "the click at event " << i << " was split";
        ++clicks;
        ++i;
    }
    EXPECT_EQ(clicks, expectedClicks);
    EXPECT_EQ(loneMiddleReleases, middleReleases);

    // Between two moves there is at most a double click's repeat and one new click.
    int sinceMove = 0;
    for (const InputEvent& event : events) {
        if (IsMove(event)) {
            sinceMove = 0;
        } else if (event.mi.dwFlags != MOUSEEVENTF_MIDDLEUP) {
            ASSERT_LE(++sinceMove, 4) << "more than two clicks between two moves";
        }
    }
}

}  // namespace

// CDetectWindow: the still count over the history, its square and its reset marker.
#include <gtest/gtest.h>

#include "detect_window.h"

namespace {

void PushTimes(CDetectWindow& window, int times, float x, float y) {
    for (int i = 0; i < times; ++i) window.Push(x, y);
}

TEST(DetectWindow, CountsTheNewestEntriesNearThePointUpToFifty) {
    CDetectWindow window;
    EXPECT_EQ(window.CountStill(0.0f, 0.0f), 0) << "a new history counts as empty";

    window.Reset();
    PushTimes(window, 3, 100.0f, 200.0f);
    EXPECT_EQ(window.CountStill(100.0f, 200.0f), 3);

    PushTimes(window, 57, 100.0f, 200.0f);
    EXPECT_EQ(window.CountStill(100.0f, 200.0f), 50);
}

TEST(DetectWindow, TheClosedSquareOfTenCountsItsEdgesAndNothingBeyond) {
    CDetectWindow window;
    const float x = 300.5f, y = -20.25f;
    window.Push(x + 10.001f, y);
    for (float dx : {-10.0f, 10.0f})
        for (float dy : {-10.0f, 10.0f}) window.Push(x + dx, y + dy);
    EXPECT_EQ(window.CountStill(x, y), 4) << "the four corners count, 10.001 to the right ends the count";

    window.Push(x, y - 10.001f);
    EXPECT_EQ(window.CountStill(x, y), 0) << "the newest entry is outside";
}

TEST(DetectWindow, CountingStopsAtTheFirstEntryOutsideEvenIfOlderOnesAreInside) {
    CDetectWindow window;
    PushTimes(window, 20, 0.0f, 0.0f);
    window.Push(50.0f, 0.0f);
    PushTimes(window, 5, 0.0f, 0.0f);
    EXPECT_EQ(window.CountStill(0.0f, 0.0f), 5);
    EXPECT_EQ(window.CountStill(50.0f, 0.0f), 0);
}

TEST(DetectWindow, ResetHidesEverythingPushedBeforeUntilTheMarkerFallsOut) {
    CDetectWindow window;
    PushTimes(window, 30, 5.0f, 5.0f);
    window.Reset();
    EXPECT_EQ(window.CountStill(5.0f, 5.0f), 0);

    PushTimes(window, 49, 5.0f, 5.0f);
    EXPECT_EQ(window.CountStill(5.0f, 5.0f), 49) << "the marker is the 50th entry";
    window.Push(5.0f, 5.0f);
    EXPECT_EQ(window.CountStill(5.0f, 5.0f), 50) << "the marker was dropped";
}

}  // namespace

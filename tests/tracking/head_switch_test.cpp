// The head shake: which paths of the head the detector takes for one, and what the switch does
// with it (control off with the pointer taken back, control on once the head rests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tracking/head_switch.h"
#include "tracking/shake_detector.h"

namespace {

// A head path through key places, moving smoothly from each to the next, sampled at fps, with
// a little seeded jitter as a tracker has.
struct Key {
    double t;
    float x, y = 0;
};
struct Place {
    double t;
    float x, y;
};
std::vector<Place> PathThrough(const std::vector<Key>& keys, double fps = 30) {
    std::vector<Place> path;
    std::mt19937 random(7);
    std::normal_distribution<float> jitter(0, 0.15f);
    std::size_t k = 0;
    for (double t = 0; t <= keys.back().t; t += 1 / fps) {
        while (k + 2 < keys.size() && t > keys[k + 1].t) ++k;
        const Key &a = keys[k], &b = keys[k + 1];
        const double s = std::clamp((t - a.t) / (b.t - a.t), 0.0, 1.0), smooth = s * s * (3 - 2 * s);
        path.push_back({t, static_cast<float>(a.x + (b.x - a.x) * smooth) + jitter(random),
                        static_cast<float>(a.y + (b.y - a.y) * smooth) + jitter(random)});
    }
    return path;
}

// At rest at x = 0 until `from`, then out to the left, across to the right, back to the left and
// home, `turn` s for each full swing, staying `stay` s at the turns. Ends 2 s at rest.
std::vector<Key> Shake(double from, double turn, float swing, float nod = 0, double stay = 0) {
    const float h = swing / 2;
    double t = from + turn / 2;
    std::vector<Key> keys{{0, 0}, {from, 0}, {t, -h}};
    if (stay > 0) keys.push_back({t += stay, -h});
    keys.push_back({t += turn, h, nod});
    if (stay > 0) keys.push_back({t += stay, h, nod});
    keys.push_back({t += turn, -h});
    keys.push_back({t += turn / 2, 0});
    keys.push_back({t + 2, 0});
    return keys;
}

// The times at which the detector fired, and where it put each shake's start.
struct Found {
    std::vector<double> at, start;
};
Found Detect(const std::vector<Place>& path, CShakeDetector& detector) {
    Found found;
    for (const Place& p : path)
        if (detector.Feed(p.t, p.x, p.y)) found.at.push_back(p.t), found.start.push_back(detector.GestureStart());
    return found;
}

TEST(ShakeDetector, TakesAQuickEvenHorizontalShakeAndNothingElse) {
    struct Case {
        const char* name;
        std::vector<Key> keys;
        double fps;
        int shakes;
        double start = -1;  // when the shake began, if checked
    };
    const std::vector<Key> longShake{{0, 0},      {1, 0},       {1.125, -15}, {1.375, 15}, {1.625, -15},
                                     {1.875, 15}, {2.125, -15}, {2.375, 15},  {2.5, 0},    {4.5, 0}};
    // A pointing move to the left, a rest, and a shake that starts to the left as well.
    std::vector<Key> wanderFirst{{0, 0}, {1, 0}, {1.4, -40}};
    for (Key k : Shake(0.4, 0.25, 30)) wanderFirst.push_back({k.t + 1.5, k.x - 40, k.y});
    const std::vector<Case> cases = {
        {"a shake at 2 Hz", Shake(1, 0.25, 30), 30, 1, 1.0},
        {"the same at 12 frames a second", Shake(1, 0.25, 30), 12, 1, 1.0},
        {"right first", Shake(1, 0.25, -30), 30, 1},
        {"at 3 Hz, wide", Shake(1, 1 / 6.0, 60), 30, 1},
        {"slow: a swing every 0.7 s", Shake(1, 0.7, 30), 30, 0},
        {"a stay at each turn, as between two targets", Shake(1, 0.15, 30, 0, 0.3), 30, 0},
        {"too small to tell from unrest", Shake(1, 0.25, 6), 30, 0},
        {"as much up and down as across", Shake(1, 0.25, 30, 30), 30, 0},
        {"tracking glitches a frame apart",
         {{0, 0}, {1, 0}, {1.03, 20}, {1.07, -20}, {1.1, 20}, {1.13, 0}, {3, 0}},
         30,
         0},
        {"a jump of the tracking for a swing", {{0, 0}, {1, 0}, {1.2, -60}, {1.233, 60}, {1.5, -60}, {3, -60}}, 30, 0},
        {"a long shake switches once", longShake, 30, 1},
        {"after a move the same way and a rest", wanderFirst, 30, 1, 1.9},
    };
    for (const Case& c : cases) {
        CShakeDetector detector;
        const Found found = Detect(PathThrough(c.keys, c.fps), detector);
        EXPECT_EQ(static_cast<int>(found.at.size()), c.shakes) << c.name;
        // It began when the head left its rest.
        if (c.start >= 0 && !found.start.empty()) {
            EXPECT_NEAR(found.start[0], c.start, 0.1) << c.name;
        }
    }
}

TEST(ShakeDetector, AHeadThatRoamedWidelyMustShakeHarder) {
    // A minute of looking from side to side, 100 px apart, then a shake of 10 px; and the same
    // shake after a minute at rest.
    std::vector<Key> roaming{{0, 0}};
    for (int s = 1; s <= 60; ++s) roaming.push_back({static_cast<double>(s), s % 2 ? 100.0f : 0.0f});
    for (const auto& [before, shakes] : {std::pair{roaming, 0}, std::pair{std::vector<Key>{{0, 0}, {60, 0}}, 1}}) {
        std::vector<Key> keys = before;
        for (Key k : Shake(1, 0.25, 10)) keys.push_back({k.t + 60.5, k.x, k.y});
        CShakeDetector detector;
        const Found found = Detect(PathThrough(keys), detector);
        EXPECT_EQ(static_cast<int>(found.at.size()), shakes) << "swing size " << detector.SwingSize();
    }
}

// The pointer as the switch sees it: whole moves summed, steps back recorded.
struct FakePointer : IPointerOutput {
    void Move(float dx, float dy) override {
        travel.x += static_cast<long long>(dx), travel.y += static_cast<long long>(dy);
    }
    bool Scrolling() const override { return false; }
    void Scroll(float, float) override {}
    PointerTravel Travelled() const override { return travel; }
    void MoveBack(int dx, int dy) override {
        back.push_back({dx, dy});
        travel.x += dx, travel.y += dy;
    }
    void ReleaseButtons() override { ++releases; }
    PointerTravel travel;
    std::vector<PointerTravel> back;
    int releases = 0;
};

class HeadSwitch : public testing::Test {
protected:
    HeadSwitch() {
        settings.m_bShakeToggle = true;
        settings.m_bMouseActive = true;
        headSwitch.SetClock([this] { return now; });
    }
    // Each frame as the tracker and the mapping have it: the switch first, then the pointer
    // moves 8 times the head's motion if control is on. Returns the pointer's travel.
    PointerTravel Run(const std::vector<Place>& path, double from = 0) {
        for (const Place& p : path) {
            now = from + p.t;
            // The frame is 320 wide: the motion is half that of the reference picture.
            const float dx = (p.x - lastX) / 2, dy = (p.y - lastY) / 2;
            headSwitch.OnMotion(1, dx, dy, 320);
            if (settings.m_bMouseActive) pointer.Move(16 * dx, 16 * dy);
            lastX = p.x, lastY = p.y;
        }
        return pointer.travel;
    }

    CSettingsMirror settings;
    FakePointer pointer;
    MotionOutputs outputs{&pointer};
    CHeadSwitch headSwitch{settings, outputs, nullptr};
    double now = 0;
    float lastX = 0, lastY = 0;
};

TEST_F(HeadSwitch, AShakeSwitchesControlOffAndTakesThePointerBackStepByStepNewestFirst) {
    // A move right the pointer keeps, then a shake.
    std::vector<Key> keys{{0, 0}, {0.5, 20}, {1, 20}};
    for (Key k : Shake(0, 0.25, 30)) keys.push_back({k.t + 1, k.x + 20, k.y});
    const std::vector<Place> path = PathThrough(keys);
    const PointerTravel end = Run(path);
    EXPECT_FALSE(settings.m_bMouseActive);
    EXPECT_EQ(headSwitch.Switches(), 1);
    EXPECT_EQ(pointer.releases, 1);
    EXPECT_NEAR(static_cast<double>(end.x), 8 * 20, 12) << "back where the shake began";
    ASSERT_GT(pointer.back.size(), 5u) << "one step a frame";
    EXPECT_LT(std::abs(pointer.back.back().x), std::abs(pointer.back[pointer.back.size() / 2].x))
        << "the first steps of the shake, slow, are undone last";
}

TEST_F(HeadSwitch, AShakeWhileOffSwitchesControlOnOnlyOnceTheHeadRests) {
    settings.m_bMouseActive = false;
    const std::vector<Place> path = PathThrough(Shake(1, 0.25, 30));
    double onAt = -1;
    for (std::size_t i = 0; i < path.size() && onAt < 0; ++i) {
        Run({path[i]});
        if (settings.m_bMouseActive) onAt = path[i].t;
    }
    // The shake ends at 1.75 s; a fifth of a second at rest follows.
    EXPECT_NEAR(onAt, 1.75 + CHeadSwitch::kSettleTime, 0.1);
    EXPECT_TRUE(pointer.back.size() <= 1 && pointer.releases == 0) << "nothing to take back";
}

TEST_F(HeadSwitch, WatchesOnlyWhileSwitchedOnAndTheMotionGoesToThePointer) {
    for (auto* other : {&settings.m_bShakeToggle, &settings.m_bFlightConnected, &settings.m_bSdkActive}) {
        settings.m_bShakeToggle = other != &settings.m_bShakeToggle;
        settings.m_bFlightConnected = other == &settings.m_bFlightConnected;
        settings.m_bSdkActive = other == &settings.m_bSdkActive;
        Run(PathThrough(Shake(1, 0.25, 30)), now + 10);
        EXPECT_TRUE(settings.m_bMouseActive);
    }
    EXPECT_EQ(headSwitch.Switches(), 0);
}

TEST_F(HeadSwitch, ControlSwitchedOnByTheHotkeyMeanwhileStopsTheWayBack) {
    const std::vector<Place> path = PathThrough(Shake(1, 0.25, 60));
    std::size_t i = 0;
    while (settings.m_bMouseActive) Run({path[i++]});
    settings.m_bMouseActive = true;
    const std::size_t steps = pointer.back.size();
    Run({path[i], path[i + 1]}, 0);
    EXPECT_EQ(pointer.back.size(), steps);
}

}  // namespace

// Head control switched by a head shake, end to end: a camera whose head rests, shakes, rests,
// moves right and back, again and again. The first shake the program sees switches control
// off and puts the pointer back where it rested; the head's move then leaves the pointer where
// it is; the next shake switches control on, and the move moves the pointer again.
#include "tests/app_e2e/e2e_harness.h"
#include "tools/sequence/head_motion.h"

namespace e2e {
namespace {

// One round of the "shakes" trajectory, the shake at 2 Hz and 30 px: a second at rest, the shake,
// a second at rest, the move right and back, half a second at rest; at 12 frames a second, as
// the video plays.
const fs::path& ShakingHeadVideo() {
    static const fs::path video = [] {
        constexpr int kFrames = 900, kStyle = 4;  // 2 Hz, 30 px
        const auto [first, last] = ShakesSequencePath(kFrames).shakes.at(kStyle);
        std::vector<int> order;
        for (double i = first - 30; i <= last + 105; i += 30.0 / 12) order.push_back(static_cast<int>(i));
        return SequenceVideo("head-shakes.avi", Trajectory::Shakes, kFrames, order);
    }();
    return video;
}

TEST_F(ProgramTest, AHeadShakeSwitchesControlOffWithThePointerBackWhereItRestedAndTheNextOneOn) {
    CSettingsStore store;
    for (const SettingKey& on : {Setting::kUseMouse, Setting::kShakeToggle}) store.Write(on, 1);
    store.Write(Setting::kUpdateCount, 1);  // no update reminder
    MovePointer(Centre());
    const ProgramRun run = Start({"--camera-file", ShakingHeadVideo().string(), "--no-dialogs"});

    // The pointer's places, until a while after control came on again.
    using Clock = std::chrono::steady_clock;
    std::vector<std::pair<Clock::time_point, Point>> places;
    std::optional<Clock::time_point> off, on;
    for (const auto end = Clock::now() + kSlow * 60s; Clock::now() < end && (!on || Clock::now() < *on + 6s);) {
        places.emplace_back(Clock::now(), Pointer());
        if (!off && HasLine(Log(run), "Head shake: head control off")) off = Clock::now();
        if (off && !on && HasLine(Log(run), "Head shake: head control on")) on = Clock::now();
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(off && on) << "no shake switched control off and then on" << Diagnostics(run);
    EXPECT_TRUE(MissingInOrder(Log(run), {"Head shake: head control off", "Head shake: head control on"}).empty());

    const auto at = [&](Clock::time_point when) {
        return std::lower_bound(places.begin(), places.end(), when,
                                [](const auto& place, Clock::time_point t) { return place.first < t; });
    };
    // Where the pointer rested before the shake: the last place it kept for half a second.
    std::optional<Point> rested;
    for (auto i = at(*off); i != places.begin() && !rested; --i) {
        const auto from = at(i->first - 500ms);
        if (from->first < i->first - 400ms &&
            std::all_of(from, i, [&](const auto& p) { return p.second == i->second; }))
            rested = i->second;
    }
    ASSERT_TRUE(rested) << "the pointer never rested before the shake";

    // Taken back one step a frame, then still while the head moves, until control is on.
    const Point back = at(*off + 1500ms)->second;
    EXPECT_LE(cv::norm(back - *rested), 16) << "rested at " << *rested << ", back at " << back;
    const auto moved = std::count_if(at(*off + 1500ms), at(*on), [&](const auto& p) { return p.second != back; });
    EXPECT_EQ(moved, 0) << "the pointer moved while control was off";
    double reach = 0;
    for (auto i = at(*on); i != places.end(); ++i) reach = std::max(reach, cv::norm(i->second - at(*on)->second));
    EXPECT_GE(reach, 30) << "the head's move did not move the pointer once control was on";
}

}  // namespace
}  // namespace e2e

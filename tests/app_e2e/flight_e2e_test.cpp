// The program steering a simulator's view: the head's motion arrives at a pose receiver on the
// stored address while the pointer stays where it is.
#include "tests/app_e2e/e2e_harness.h"
#include "tests/support/udp_receiver.h"

namespace e2e {
namespace {

class FlightLink : public ProgramTest, public ::testing::WithParamInterface<bool> {};

// The head's fast pass goes left in the picture: with "lrMouse" 0 the view turns the other way,
// as the pointer does (yaw up); with 1 it keeps the picture's side.
TEST_P(FlightLink, TheHeadTurnsTheViewAndThePointerStaysStill) {
    test::UdpReceiver receiver;
    CSettingsStore store;
    for (const auto& [key, value] : {std::pair{Setting::kUseMouse, 1},
                                     {Setting::kFlight, 1},
                                     {Setting::kFlightAutoCenter, 0},
                                     {Setting::kLrMouse, GetParam() ? 1 : 0}})
        store.Write(key, value);
    store.WriteText(Setting::kFlightTarget, "127.0.0.1:" + std::to_string(receiver.Port()));
    const ProgramRun run = Start(CameraArgs());
    // The centred view on opening, then a frame's pose: only then is the link counted connected.
    ASSERT_TRUE(receiver.Receive(kSlow * 20s) && receiver.Receive(kSlow * 5s)) << "no poses" << Diagnostics(run);
    MovePointer(Centre());

    // Mean step of the view's yaw each way, over two of the head's round trips.
    double sum[2] = {0, 0};
    int count[2] = {0, 0};
    double last = 0;
    for (const auto end = std::chrono::steady_clock::now() + kSlow * 12s; std::chrono::steady_clock::now() < end;)
        if (const auto pose = receiver.Receive(100ms); pose && pose->size == 48) {
            const double step = pose->values[3] - std::exchange(last, pose->values[3]);
            if (std::abs(step) > 0.01) sum[step > 0] += std::abs(step), ++count[step > 0];
        }
    EXPECT_EQ(Pointer(), Centre()) << "the pointer moved while the view was steered";
    ASSERT_TRUE(count[0] >= 5 && count[1] >= 5) << count[0] << " steps down, " << count[1] << " up";
    const double down = sum[0] / count[0], up = sum[1] / count[1];
    EXPECT_GT(GetParam() ? down / up : up / down, 1.3) << "down " << down << ", up " << up;
}

INSTANTIATE_TEST_SUITE_P(Program, FlightLink, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "KeepingThePictureSide" : "Mirrored"; });

}  // namespace
}  // namespace e2e

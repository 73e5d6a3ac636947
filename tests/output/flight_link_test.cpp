// The simulator view link: the view's angles, their smoothing and centring, the connection's
// retry cycle and orderly close with a recording link, and the UDP link against a receiver.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <memory>
#include <vector>

#include "output/flight_link.h"
#include "output/recording_sim_link.h"
#include "output/udp_sim_link.h"
#include "tests/support/udp_receiver.h"
#include "tests/support/xvfb_server.h"

namespace {

using namespace std::chrono_literals;
using Call = CRecordingSimLink::Call;

TEST(WrapAngle, BringsAnglesIntoTheHalfTurnAndKeepsItsEnds) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> cases[] = {{190, -170}, {-540, -180}, {180, 180}, {-180, -180}, {725, 5}, {inf, 0}};
    for (const auto& [in, out] : cases) EXPECT_EQ(WrapAngle(in), out) << in;
}

// Connected at the first tick; a frame comes during each pause of the orderly close.
struct FlightLink : ::testing::Test {
    FlightLink() {
        link.EnableLink(true);
        link.OnTimer();
        sim->Clear();
    }
    CSettingsMirror settings;
    CRecordingSimLink* sim = new CRecordingSimLink;
    std::vector<std::chrono::milliseconds> pauses;
    CFlightLink link{settings, std::unique_ptr<ISimLink>(sim), [this](std::chrono::milliseconds pause) {
                         pauses.push_back(pause);
                         link.MoveCamera(5, 5, false);
                     }};
};

TEST_F(FlightLink, SendsTheSmoothedWrappedAnglesOfEachMove) {
    // clang-format off
    const struct { bool autoCentre, absolute; int smoothing; std::vector<float> inputs, headings; } cases[] = {
        {true, false, 2, {0, 0, 0, 0}, {0.9f, 0, 0.9f, 0}},  // the drift alone alternates
        {false, true, 3, {30, 30, 30}, {10, 20, 30}},        // smoothing 3 from rest
        {true, true, 2, {40, 40}, {20, 40}},                 // absolute overwrites the drift
        {false, false, 3, {300, 300, 300}, {100, -60, -120}}};  // a new smoothing starts from rest
    // clang-format on
    for (const auto& c : cases) {
        settings.m_bFlightAutoCenter = c.autoCentre;
        settings.m_nSliderSmoothSimFS = c.smoothing;
        link.EnableLink(true);
        link.OnTimer();
        sim->Clear();
        std::vector<Call> expected;
        for (float heading : c.headings) expected.push_back({Call::Send, heading, c.autoCentre ? heading : -heading});
        for (float x : c.inputs) link.MoveCamera(x, c.autoCentre ? x : -x, c.absolute);
        EXPECT_EQ(sim->Calls(), expected) << "case " << &c - cases;
    }
}

TEST_F(FlightLink, RetriesEvery64SecondsWithTheDotAnimationUntilTheSimulatorAnswers) {
    sim->SetOpenSucceeds(false);
    link.EnableLink(true);
    EXPECT_EQ(link.StatusText(), "Init.....");
    std::vector<int> attemptSeconds;
    std::vector<std::size_t> dots;
    for (int tick = 1; tick <= 70; ++tick) {
        const std::size_t before = sim->Calls().size();
        link.OnTimer();
        if (sim->Calls().size() > before) attemptSeconds.push_back(2 * tick);
        if (tick <= 17) dots.push_back(link.StatusText().size() - 23);
    }
    EXPECT_EQ(attemptSeconds, (std::vector<int>{2, 66, 130}));
    EXPECT_EQ(dots, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 14, 0}));
}

TEST_F(FlightLink, SwitchedOffItSendsTheCentredViewTwiceThenClosesWhileFramesSendNothing) {
    link.MoveCamera(20, 10, true);
    sim->Clear();
    link.EnableLink(false);
    EXPECT_EQ(sim->Calls(), (std::vector<Call>{{Call::Send, 0, 0}, {Call::Send, 0, 0}, {Call::Close}}));
    EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{100ms, 200ms}));
    EXPECT_FALSE(link.Connected());
}

// The simulator keeps the last view it got: a link given up while connected leaves it centred.
TEST(FlightLinkEnd, ALinkReplacedOrEndedWhileConnectedCentresTheViewOnceAndCloses) {
    // Outlives the link that owns it, so what the link did can be read after it is gone.
    struct LoggingSimLink final : ISimLink {
        explicit LoggingSimLink(std::vector<Call>& calls) : calls(calls) {}
        bool Open() override { return calls.push_back({Call::Open}), true; }
        bool SendOrientation(float heading, float pitch) override {
            return calls.push_back({Call::Send, heading, pitch}), true;
        }
        bool Close() override { return calls.push_back({Call::Close}), true; }
        std::string LastError() const override { return {}; }
        std::vector<Call>& calls;
    };
    CSettingsMirror settings;
    std::vector<Call> first, second;
    auto link = std::make_unique<CFlightLink>(settings, std::make_unique<LoggingSimLink>(first));
    link->OnTimer();
    link->MoveCamera(20, 10, true);
    link->SetLink(std::make_unique<LoggingSimLink>(second));
    link->OnTimer();
    link->MoveCamera(20, 10, true);
    link.reset();
    for (const std::vector<Call>& calls : {first, second}) {
        ASSERT_EQ(calls.size(), 4u);
        EXPECT_NE(calls[1], (Call{Call::Send, 0, 0})) << "the head turned the view";
        EXPECT_EQ(calls[2], (Call{Call::Send, 0, 0}));
        EXPECT_EQ(calls[3], Call{Call::Close});
    }
    EXPECT_FALSE(settings.m_bFlightConnected);
}

TEST(UdpSimLink, OpensWhereAReceiverListensSendsThePoseAndReconnectsOnTheRetryCycle) {
    CSettingsMirror settings;
    settings.m_bFlightAutoCenter = false;
    auto receiver = std::make_unique<test::UdpReceiver>();
    const int port = receiver->Port();
    CFlightLink link(settings, std::make_unique<CUdpSimLink>(SimTarget{"localhost", port}));
    link.EnableLink(true);
    link.OnTimer();
    ASSERT_TRUE(link.Connected()) << link.StatusText();
    link.MoveCamera(30, -12, true);
    EXPECT_EQ(receiver->Receive()->values, (std::array<double, 6>{})) << "the centred view";
    const auto pose = receiver->Receive().value_or(test::UdpReceiver::Pose{});
    EXPECT_EQ(pose.size, 48u);
    EXPECT_EQ(pose.values, (std::array<double, 6>{0, 0, 0, 10, -4, 0})) << "yaw and pitch, smoothed over 3";

    receiver.reset();
    EXPECT_TRUE(test::WaitUntil([&] { return link.MoveCamera(1, 1, false), !link.Connected(); }, 5s));
    receiver = std::make_unique<test::UdpReceiver>(port);
    int ticks = 0;
    for (; !link.Connected() && ticks < 40; ++ticks) link.OnTimer();
    EXPECT_EQ(ticks, 32) << "the attempt after the first comes 64 s later";
    const int unused = test::UdpReceiver().Port();
    EXPECT_FALSE(CUdpSimLink(SimTarget{"127.0.0.1", unused}).Open()) << "no receiver there";
}

}  // namespace

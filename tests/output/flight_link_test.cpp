// The simulator view link: the view's angles, their smoothing and centring, the connection's
// retry cycle and orderly close with a recording link, and the UDP link against a receiver.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "flight_link.h"
#include "recording_sim_link.h"
#include "udp_receiver.h"
#include "udp_sim_link.h"
#include "xvfb_server.h"

namespace {

using namespace std::chrono_literals;
using Call = CRecordingSimLink::Call;

TEST(WrapAngle, BringsAnglesIntoTheHalfTurnAndKeepsItsEnds) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> cases[] = {{190, -170}, {-540, -180}, {180, 180},  {-180, -180},
                                             {725, 5},    {0, 0},       {inf, 0.0f}, {-inf, 0.0f}};
    for (const auto& [in, out] : cases) EXPECT_EQ(WrapAngle(in), out) << in;
    const float huge = WrapAngle(3.0e30f);
    EXPECT_TRUE(huge >= -180.0f && huge <= 180.0f) << huge;
}

class FlightLink : public ::testing::Test {
protected:
    FlightLink() {
        auto recording = std::make_unique<CRecordingSimLink>();
        sim = recording.get();
        link = std::make_unique<CFlightLink>(settings, std::move(recording),
                                             [this](std::chrono::milliseconds pause) { OnSleep(pause); });
    }
    void Connect() {
        link->EnableLink(true);
        link->OnTimer();
        ASSERT_TRUE(link->Connected());
        sim->Clear();
    }
    std::vector<Call> Sends() const {
        std::vector<Call> sends;
        for (const Call& call : sim->Calls())
            if (call.kind == Call::Send) sends.push_back(call);
        return sends;
    }
    virtual void OnSleep(std::chrono::milliseconds pause) { pauses.push_back(pause); }

    CSettingsMirror settings;
    CRecordingSimLink* sim = nullptr;
    std::unique_ptr<CFlightLink> link;
    std::vector<std::chrono::milliseconds> pauses;
};

struct MoveCase {
    const char* name;
    bool autoCentre;
    int smoothing;
    bool absolute;
    std::vector<float> inputs;    // x of each call; y gets the negated value
    std::vector<float> headings;  // sent after each call
};

std::ostream& operator<<(std::ostream& out, const MoveCase& c) { return out << c.name; }

class MoveCamera : public FlightLink, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveCamera, SendsTheSmoothedWrappedAngles) {
    const MoveCase& c = GetParam();
    settings.m_bFlightAutoCenter = c.autoCentre;
    settings.m_nSliderSmoothSimFS = c.smoothing;
    Connect();
    for (float x : c.inputs) link->MoveCamera(x, -x, c.absolute);
    const std::vector<Call> sends = Sends();
    ASSERT_EQ(sends.size(), c.headings.size());
    for (std::size_t i = 0; i < sends.size(); ++i) {
        EXPECT_FLOAT_EQ(sends[i].heading, c.headings[i]) << "call " << i;
        EXPECT_FLOAT_EQ(sends[i].pitch, c.autoCentre ? sends[i].pitch : -c.headings[i]) << "call " << i;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, MoveCamera, ::testing::Values(
    MoveCase{"DriftAlternatesWithoutMotion", true, 2, false, {0, 0, 0, 0}, {0.9f, 0, 0.9f, 0}},
    MoveCase{"SmoothingThreeFromRest", false, 3, true, {30, 30, 30}, {10, 20, 30}},
    MoveCase{"AbsoluteOverwritesTheDrift", true, 2, true, {40, 40}, {20, 40}},
    MoveCase{"RelativeAddsAndWraps", false, 2, false, {200, 200, 200}, {100, -60, 140}}),
    [](const auto& info) { return info.param.name; });
// clang-format on

TEST_F(FlightLink, RetriesEvery64SecondsWithTheDotAnimationUntilTheSimulatorAnswers) {
    sim->SetOpenSucceeds(false);
    link->EnableLink(true);
    EXPECT_EQ(link->StatusText(), CFlightLink::kStatusInit);
    std::vector<int> attemptSeconds;
    std::vector<std::size_t> dots;
    for (int tick = 1; tick <= 70; ++tick) {
        const std::size_t before = sim->Calls().size();
        link->OnTimer();
        if (sim->Calls().size() > before) attemptSeconds.push_back(2 * tick);
        if (tick <= 17) dots.push_back(link->StatusText().size() - 23);
        EXPECT_EQ(std::string(CFlightLink::kStatusChecking).rfind(link->StatusText(), 0), 0u) << link->StatusText();
    }
    EXPECT_EQ(attemptSeconds, (std::vector<int>{2, 66, 130}));
    EXPECT_EQ(dots, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 14, 0}));
    EXPECT_FALSE(settings.m_bFlightConnected);

    sim->SetOpenSucceeds(true);
    for (int tick = 0; tick < 32 && !link->Connected(); ++tick) link->OnTimer();
    EXPECT_TRUE(settings.m_bFlightConnected);
    EXPECT_EQ(link->StatusText(), CFlightLink::kStatusConnected);
}

TEST_F(FlightLink, ResendsTheViewEachTickAndLosesTheConnectionOnAFailedSend) {
    Connect();
    link->MoveCamera(8, 4, true);
    link->OnTimer();
    const std::vector<Call> sends = Sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[1], sends[0]);
    sim->SetSendSucceeds(false);
    link->MoveCamera(1, 1, false);
    EXPECT_FALSE(link->Connected());
    EXPECT_EQ(link->StatusText(), CFlightLink::kStatusConnected) << "only the next tick tells";
}

TEST_F(FlightLink, CentreViewZeroesTheAnglesAndSendsOnlyWhenConnected) {
    settings.m_bFlightAutoCenter = false;
    link->MoveCamera(30, 10, true);
    link->CentreView();
    EXPECT_EQ(link->Heading(), 0.0f);
    EXPECT_EQ(Sends().size(), 1u) << "the move, not the centring, while not connected";
    Connect();
    link->CentreView();
    ASSERT_EQ(Sends().size(), 1u);
}

// Frames keep coming while the link closes: they must not turn the centred view away.
class OrderlyClose : public FlightLink {
    void OnSleep(std::chrono::milliseconds pause) override {
        FlightLink::OnSleep(pause);
        link->MoveCamera(5, 5, false);
    }
};

TEST_F(OrderlyClose, SendsTheCentredViewTwiceThenClosesWhileFramesSendNothing) {
    Connect();
    link->MoveCamera(20, 10, true);
    sim->Clear();
    link->EnableLink(false);
    const std::vector<Call> expected{{Call::Send, 0, 0}, {Call::Send, 0, 0}, {Call::Close}};
    EXPECT_EQ(sim->Calls(), expected);
    EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{100ms, 200ms}));
    EXPECT_FALSE(link->Connected());

    sim->Clear();
    link->EnableLink(false);
    EXPECT_TRUE(sim->Calls().empty()) << "not connected: nothing to close";
}

TEST_F(FlightLink, FramesOnTheirThreadMeetTheTimerAndTheSwitchWithoutRaces) {
    Connect();
    std::atomic<bool> stop{false};
    std::thread frames([&] {
        while (!stop) link->MoveCamera(3, -2, false);
    });
    for (int tick = 0; tick < 300; ++tick) {
        link->OnTimer();
        if (tick % 30 == 0) link->EnableLink(tick % 60 != 0);
        if (tick % 7 == 0) link->CentreView();
    }
    stop = true;
    frames.join();
    EXPECT_LE(std::fabs(link->Heading()), 180.0f);
}

TEST(SimTarget, ParsesWhatAUserTypesAndRefusesTheRest) {
    const std::pair<const char*, std::optional<SimTarget>> cases[] = {
        {"127.0.0.1:4242", SimTarget{"127.0.0.1", 4242}},
        {" 192.168.1.20:5000 ", SimTarget{"192.168.1.20", 5000}},
        {"[::1]:4242", SimTarget{"::1", 4242}},
        {"localhost:1", SimTarget{"localhost", 1}},
        {"127.0.0.1", std::nullopt},
        {"127.0.0.1:0", std::nullopt},
        {"127.0.0.1:65536", std::nullopt},
        {"127.0.0.1:42x", std::nullopt},
        {":4242", std::nullopt},
        {"simulator.example:4242", std::nullopt}};
    for (const auto& [text, expected] : cases) {
        std::string error;
        const auto target = ParseSimTarget(text, error);
        EXPECT_EQ(target, expected) << text;
        EXPECT_EQ(error.empty(), expected.has_value()) << text << ": " << error;
        if (target) {
            EXPECT_EQ(ParseSimTarget(target->Text(), error), target) << target->Text();
        }
    }
}

TEST(UdpSimLink, SendsFortyEightLittleEndianBytesOfThePose) {
    const auto bytes = CUdpSimLink::Datagram(1.0f, -2.0f);
    ASSERT_EQ(bytes.size(), 48u);
    const std::vector<std::uint8_t> yaw(bytes.begin() + 24, bytes.begin() + 32);
    const std::vector<std::uint8_t> pitch(bytes.begin() + 32, bytes.begin() + 40);
    EXPECT_EQ(yaw, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(pitch, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0x00, 0xC0}));
    for (int i : {0, 8, 16, 40}) EXPECT_EQ(bytes[i + 7], 0) << "x, y, z and roll are 0";
}

TEST(UdpSimLink, OpensOnlyWhereAReceiverListensAndTheViewFollowsMoveCamera) {
    std::string error;
    CUdpSimLink absent(SimTarget{"127.0.0.1", test::UnusedUdpPort()});
    EXPECT_FALSE(absent.Open());
    EXPECT_NE(absent.LastError().find("refused"), std::string::npos) << absent.LastError();

    test::UdpReceiver receiver;
    CSettingsMirror settings;
    settings.m_bFlightAutoCenter = false;
    CFlightLink link(settings, std::make_unique<CUdpSimLink>(SimTarget{"localhost", receiver.Port()}));
    link.EnableLink(true);
    link.OnTimer();
    ASSERT_TRUE(link.Connected()) << link.StatusText();
    const auto centred = receiver.Receive();
    ASSERT_TRUE(centred);
    EXPECT_EQ(centred->size, 48u);
    EXPECT_EQ(centred->values, (std::array<double, 6>{}));

    link.MoveCamera(30, -12, true);
    link.MoveCamera(30, -12, true);
    const auto pose = receiver.Drain().back();
    EXPECT_DOUBLE_EQ(pose.Yaw(), link.Heading());
    EXPECT_DOUBLE_EQ(pose.Pitch(), link.Pitch());
    EXPECT_EQ(link.Heading(), 20.0f);  // smoothing 3 from rest
}

TEST(UdpSimLink, AReceiverThatGoesAwayLosesTheConnectionAndTheRetryCycleFindsItAgain) {
    auto receiver = std::make_unique<test::UdpReceiver>();
    const int port = receiver->Port();
    CSettingsMirror settings;
    CFlightLink link(settings, std::make_unique<CUdpSimLink>(SimTarget{"127.0.0.1", port}));
    link.EnableLink(true);
    link.OnTimer();
    ASSERT_TRUE(link.Connected());
    receiver.reset();
    EXPECT_TRUE(test::WaitUntil(
        [&] {
            link.MoveCamera(1, 1, false);
            return !link.Connected();
        },
        5s));
    receiver = std::make_unique<test::UdpReceiver>(port);
    int ticks = 0;
    while (!link.Connected() && ticks < 40) link.OnTimer(), ++ticks;
    EXPECT_TRUE(link.Connected());
    EXPECT_EQ(ticks, 32) << "the attempt after the first comes 64 s later";
}

}  // namespace

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "tests/support/test_support.h"
#include "tracking/feature_tracker.h"

namespace {

// What reached an output: 'M' the pointer, 'W' the pointer scrolling, 'S' the socket, 'V' the view
// moved by, 'A' the view moved to.
using Output = std::tuple<char, float, float>;

// Registered in all three slots, so every choice of the mapping is seen.
struct RecordingOutputs : IPointerOutput, IViewOutput, ISocketOutput {
    void Move(float dx, float dy) override { outputs.emplace_back('M', dx, dy); }
    bool Scrolling() const override { return scrolling; }
    void Scroll(float dx, float dy) override { outputs.emplace_back('W', dx, dy); }
    void MoveCamera(float x, float y, bool absolute) override { outputs.emplace_back(absolute ? 'A' : 'V', x, y); }
    void Push(float x, float y) override { outputs.emplace_back('S', x, y); }
    PointerTravel Travelled() const override { return {}; }
    void MoveBack(int, int) override {}
    void ReleaseButtons() override {}
    std::vector<Output> outputs;
    bool scrolling = false;
};

class MotionMapping : public ::testing::Test {
protected:
    MotionMapping() { m_settings.m_bMouseActive = true, m_settings.m_bFlightAutoCenter = false; }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSpeedProfile m_profile{m_store};
    CSettingsMirror m_settings;  // gains 8 and 10 (the view's too), acceleration off, x mirrored
    RecordingOutputs m_outputs;
    MotionOutputs m_slots{&m_outputs, &m_outputs, &m_outputs};
    CTrackingState m_state;
    CFeatureTracker m_tracker{m_state, nullptr, {&m_settings, &m_profile, &m_slots}};
};

enum Path { Plain, Profile, Reset };
struct Call {
    Path path;
    int n = 0;
    float sumX = 0, sumY = 0;
    int m = 1;
};
struct MappingCase {
    const char* name;
    void (*setup)(CSettingsMirror&);
    std::vector<Call> calls;
    std::vector<Output> expected;
    bool accelerating = false;
};
void PrintTo(const MappingCase& c, std::ostream* out) { *out << c.name; }

// clang-format off
const std::vector<MappingCase> kCases = {
    // The plain path: the average motion times the gain and the size multiplier.
    {"PlainMirrored", nullptr, {{Plain, 4, 8, -4}, {Plain, 4, 8, -4, 2}, {Plain}}, {{'M', -16, -10}, {'M', -32, -20}}},
    {"PlainPictureX", [](CSettingsMirror& s) { s.m_bLrMouse = true; }, {{Plain, 4, 8, -4}}, {{'M', 16, -10}}},
    {"MotionOff", [](CSettingsMirror& s) { s.m_bMouseActive = false; }, {{Plain, 4, 8, -4}, {Profile, 1, 5, 0}}, {}},
    {"MotionOffForTheView", [](CSettingsMirror& s) { s.m_bMouseActive = false, s.m_bFlightConnected = true; },
     {{Plain, 2, 4, 2}, {Profile, 1, 5, 0}}, {}},
    // Acceleration by 8 * 0.25 beyond 18 - 5 on the signed sum of both axes (v = 8 * (ax + ay)):
    // v = 12, 14, 0, 14, then a frame without points, which leaves the flag.
    {"Acceleration",
     [](CSettingsMirror& s) {
         s.m_bAccMouse = true, s.m_nSliderAccWindowMouse = 5, s.m_nSliderAccMouse = 8;
         s.m_nSliderLrMouse = 1, s.m_nSliderUdMouse = 1;
     },
     {{Plain, 1, 1, 0.5f}, {Plain, 1, 1, 0.75f}, {Plain, 1, 2, -2}, {Plain, 1, 1, 0.75f}, {Plain}},
     {{'M', -1, 0.5f}, {'M', -2, 1.5f}, {'M', -2, -2}, {'M', -2, 1.5f}}, true},
    // A pipe client takes the motion before the mouse, always with the mirrored x.
    {"PipeBeforeMouse", [](CSettingsMirror& s) { s.m_bSdkActive = true, s.m_bLrMouse = true; },
     {{Plain, 4, 8, -4}, {Profile, 1, 0.4f, 0}, {Profile, 1, 0.4f, 0}, {Profile, 1, 0.4f, 0}},
     {{'S', -16, -10}, {'S', 0, 0}, {'S', 0, 0}, {'S', -8, 0}}},
    // The view comes before the pipe and gets the motion scaled by sixteenths; nothing without points.
    {"ViewScaled",
     [](CSettingsMirror& s) { s.m_bFlightConnected = true, s.m_bSdkActive = true, s.m_nSliderUdSimFS = 16; },
     {{Plain, 2, 4, 2}, {Plain}}, {{'V', -1, 1}}},
    // The profile path sends whole steps and carries the fraction; without points the offset stays.
    {"ProfileSteps", nullptr, {{Profile, 1, 0.4f, 0}, {Profile, 1, 0.4f, 0}, {Profile, 1, 0.4f, 0}, {Profile}},
     {{'M', 0, 0}, {'M', 0, 0}, {'M', -8, 0}, {'M', 0, 0}}},
    {"ProfileView", [](CSettingsMirror& s) { s.m_bFlightConnected = true; }, {{Profile, 1, 2, 1}}, {{'A', -1, 0.625f}}},
    // After a reset the first step starts from zero and is not sent; the next go on from there.
    {"ProfileReset", nullptr, {{Profile, 1, 5, 0}, {Reset}, {Profile, 1, 3, 2}, {Profile, 1, 1, 0}},
     {{'M', -40, 0}, {'M', -8, 0}}},
};
// clang-format on

class MotionMappingCases : public MotionMapping, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(MotionMappingCases, SendsExactlyTheseOutputs) {
    const MappingCase& c = GetParam();
    if (c.setup) c.setup(m_settings);
    for (const Call& call : c.calls) {
        if (call.path == Reset)
            m_tracker.ResetProfile();
        else if (call.path == Plain)
            m_tracker.MapMotion(call.n, call.sumX, call.sumY, call.m);
        else
            m_tracker.MapMotionProfile(call.n, call.sumX, call.sumY, call.m);
    }
    EXPECT_EQ(m_outputs.outputs, c.expected);
    EXPECT_EQ(m_settings.m_bAccelerating, c.accelerating);
}

INSTANTIATE_TEST_SUITE_P(Mapping, MotionMappingCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MotionMapping, AutoCentringDriftsTheOffsetsBack) {
    m_settings.m_bFlightAutoCenter = m_settings.m_bFlightConnected = true;
    m_settings.m_nSliderLrSimFS = m_settings.m_nSliderUdSimFS = 16;
    m_tracker.MapMotionProfile(1, 0.5f, 0.5f, 1);
    EXPECT_EQ(m_outputs.outputs, (std::vector<Output>{{'A', -(0.5f - 0.01f), 0.5f - 0.01f}}));
    for (int i = 0; i < 100; ++i) m_tracker.MapMotionProfile(0, 0.0f, 0.0f, 1);
    EXPECT_NEAR(std::get<1>(m_outputs.outputs.back()), 0.0f, 0.011f);
    EXPECT_NEAR(std::get<2>(m_outputs.outputs.back()), 0.01f, 0.011f);
}

// Scrolling takes the head's own motion: the average times the size multiplier in the pointer's
// directions, without gains, acceleration or profile; a pipe client still comes first (accelerated).
TEST_F(MotionMapping, WhileThePointerScrollsItGetsTheHeadsOwnMotion) {
    m_outputs.scrolling = true;
    m_settings.m_bAccMouse = true, m_settings.m_nSliderAccWindowMouse = 16, m_settings.m_nSliderAccMouse = 16;
    m_tracker.MapMotion(4, 8, -4, 2);
    m_tracker.MapMotion(0, 0, 0, 1);
    m_settings.m_bLrMouse = true;
    m_tracker.MapMotion(4, 8, -4, 1);
    m_tracker.MapMotionProfile(2, 6, 2, 1);
    m_tracker.MapMotionProfile(0, 0, 0, 1);
    m_settings.m_bSdkActive = true;
    m_tracker.MapMotion(4, 8, -4, 1);
    EXPECT_EQ(m_outputs.outputs,
              (std::vector<Output>{{'W', -4, -2}, {'W', 2, -1}, {'W', 3, 1}, {'W', 0, 0}, {'S', -64, -40}}));
}

TEST_F(MotionMapping, TheSpeedProfileShapesTheOffset) {
    for (int i = 0; i < Setting::kProfilePointsPerSide; ++i)
        m_store.Write(Setting::kProfilePoints[0][i], kSpeedProfileTemplates[1].points[i]);
    m_profile.BuildSpeedTables();
    m_tracker.MapMotionProfile(1, 60.0f, 0.0f, 1);  // index 60: factor 1.0
    m_tracker.MapMotionProfile(1, 10.0f, 0.0f, 1);  // index 70: factor 1.5
    EXPECT_EQ(m_outputs.outputs, (std::vector<Output>{{'M', -60 * 8, 0}, {'M', -(105 - 60) * 8, 0}}));
}

}  // namespace

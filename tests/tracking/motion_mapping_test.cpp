#include <gtest/gtest.h>

#include <vector>

#include "feature_tracker.h"
#include "test_support.h"

namespace {

struct Output {
    enum Kind { Mouse, Camera, Sdk } kind;
    float x, y;
    bool absolute = false;
    bool operator==(const Output&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Output& o) {
    const char* names[] = {"mouse", "camera", "sdk"};
    return out << names[o.kind] << "(" << o.x << ", " << o.y << (o.absolute ? ", absolute" : "") << ")";
}

// Registered in all three slots, so every choice of the mapping is seen.
class RecordingOutputs : public IPointerOutput, public IViewOutput, public ISocketOutput {
public:
    RecordingOutputs() {
        slots.pointer = this;
        slots.view = this;
        slots.socket = this;
    }
    void Move(float dx, float dy) override { outputs.push_back({Output::Mouse, dx, dy}); }
    void MoveCamera(float x, float y, bool absolute) override { outputs.push_back({Output::Camera, x, y, absolute}); }
    void Push(float x, float y) override { outputs.push_back({Output::Sdk, x, y}); }
    MotionOutputs slots;
    std::vector<Output> outputs;
};

class MotionMappingTest : public ::testing::Test {
protected:
    MotionMappingTest() {
        m_settings.m_bMouseActive = true;
        m_settings.m_bFlightAutoCenter = false;
    }
    std::vector<Output> Take() { return std::exchange(m_outputs.outputs, {}); }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSpeedProfile m_profile{m_store};
    CSettingsMirror m_settings;  // gains 8 and 10, acceleration off, no mirror
    RecordingOutputs m_outputs;
    CTrackingState m_state;
    CFeatureTracker m_tracker{m_state, nullptr, {&m_settings, &m_profile, &m_outputs.slots}};
};

TEST_F(MotionMappingTest, ThePlainPathMovesThePointerByTheAverageMotionTimesTheGain) {
    m_tracker.MapMotion(4, 8.0f, -4.0f, 1);  // ax = 2, ay = -1
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, -16, -10}})) << "x is mirrored";
    m_tracker.MapMotion(4, 8.0f, -4.0f, 2);
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, -32, -20}}));

    m_settings.m_bLrMouse = true;
    m_tracker.MapMotion(4, 8.0f, -4.0f, 1);
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, 16, -10}})) << "the picture's x kept";

    m_tracker.MapMotion(0, 0.0f, 0.0f, 1);
    m_settings.m_bMouseActive = false;
    m_tracker.MapMotion(4, 8.0f, -4.0f, 1);
    EXPECT_TRUE(Take().empty()) << "no points, or head motion off: nothing moves";
}

TEST_F(MotionMappingTest, AccelerationStartsBeyondTheWindowOnTheSignedSumOfBothAxes) {
    m_settings.m_bAccMouse = true;
    m_settings.m_nSliderAccWindowMouse = 5;  // threshold 13
    m_settings.m_nSliderAccMouse = 8;        // factor 2
    m_settings.m_nSliderLrMouse = 1;
    m_settings.m_nSliderUdMouse = 1;

    m_tracker.MapMotion(1, 1.0f, 0.5f, 1);  // v = 12
    EXPECT_FALSE(m_settings.m_bAccelerating);
    m_tracker.MapMotion(1, 1.0f, 0.75f, 1);  // v = 14
    EXPECT_TRUE(m_settings.m_bAccelerating);
    m_tracker.MapMotion(1, 2.0f, -2.0f, 1);  // v = 0
    EXPECT_FALSE(m_settings.m_bAccelerating);
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, -1, 0.5f}, {Output::Mouse, -2, 1.5f}, {Output::Mouse, -2, -2}}));

    m_settings.m_bAccelerating = true;
    m_tracker.MapMotion(0, 0.0f, 0.0f, 1);
    EXPECT_TRUE(m_settings.m_bAccelerating) << "a frame without points leaves the flag";
}

TEST_F(MotionMappingTest, APipeClientTakesTheMotionBeforeTheMouse) {
    m_settings.m_bSdkActive = true;
    m_settings.m_bLrMouse = true;
    m_tracker.MapMotion(4, 8.0f, -4.0f, 1);
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Sdk, -16, -10}})) << "always the mirrored x";

    m_tracker.m_bUseProfile = true;
    for (int i = 0; i < 3; ++i) m_tracker.MapMotionProfile(1, 0.4f, 0.0f, 1);
    EXPECT_EQ(Take().back(), (Output{Output::Sdk, -8, 0}));
}

TEST_F(MotionMappingTest, TheFlightViewGetsScaledMotionAndNothingWithoutPoints) {
    m_settings.m_bFlightConnected = true;
    m_settings.m_bSdkActive = true;  // the view comes first on the plain path
    m_settings.m_nSliderLrSimFS = 8;
    m_settings.m_nSliderUdSimFS = 16;
    m_tracker.MapMotion(2, 4.0f, 2.0f, 1);  // ax = 2, ay = 1; kx = 0.5, ky = 1
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Camera, -1, 1, false}}));
    m_tracker.MapMotion(0, 0.0f, 0.0f, 1);
    EXPECT_TRUE(Take().empty());

    m_settings.m_bMouseActive = false;
    m_tracker.MapMotion(2, 4.0f, 2.0f, 1);
    EXPECT_TRUE(Take().empty()) << "head motion off";
}

TEST_F(MotionMappingTest, TheProfilePathSendsWholeStepsAndCarriesTheFraction) {
    for (int i = 0; i < 3; ++i) m_tracker.MapMotionProfile(1, 0.4f, 0.0f, 1);  // 0.4, 0.8, 1.2
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, 0, 0}, {Output::Mouse, 0, 0}, {Output::Mouse, -8, 0}}));

    // Without points the offset stays, and so does the pointer.
    m_tracker.MapMotionProfile(0, 0.0f, 0.0f, 1);
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, 0, 0}}));

    // The view gets the shaped offset itself.
    m_settings.m_bFlightConnected = true;
    m_tracker.MapMotionProfile(1, 0.8f, 1.0f, 1);  // offset (2, 1)
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Camera, -1.0f, 0.625f, true}}));
}

TEST_F(MotionMappingTest, AfterAResetTheFirstProfileStepIsDiscarded) {
    m_tracker.MapMotionProfile(1, 5.0f, 0.0f, 1);
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, -40, 0}}));
    m_tracker.ResetProfile();
    m_tracker.MapMotionProfile(1, 3.0f, 2.0f, 1);  // from zero: a jump of (3, 2), not sent
    EXPECT_TRUE(Take().empty());
    m_tracker.MapMotionProfile(1, 1.0f, 0.0f, 1);
    EXPECT_EQ(Take(), (std::vector<Output>{{Output::Mouse, -8, 0}})) << "steps go on from the reset offset";
}

TEST_F(MotionMappingTest, AutoCentringDriftsTheOffsetsBack) {
    m_settings.m_bFlightAutoCenter = true;
    m_settings.m_bFlightConnected = true;
    m_settings.m_nSliderLrSimFS = 16;
    m_settings.m_nSliderUdSimFS = 16;
    m_tracker.MapMotionProfile(1, 0.5f, 0.5f, 1);
    const Output first = Take().at(0);
    EXPECT_FLOAT_EQ(first.x, -(0.5f - 0.01f));
    EXPECT_FLOAT_EQ(first.y, 0.5f - 0.01f);
    for (int i = 0; i < 100; ++i) m_tracker.MapMotionProfile(0, 0.0f, 0.0f, 1);
    const Output settled = Take().back();
    EXPECT_NEAR(settled.x, 0.0f, 0.011f);
    EXPECT_NEAR(settled.y, 0.01f, 0.011f);
}

TEST_F(MotionMappingTest, TheSpeedProfileShapesTheOffset) {
    for (int i = 0; i < Setting::kProfilePointsPerSide; ++i)
        m_store.Write(Setting::kProfilePoints[0][i], kSpeedProfileTemplates[1].points[i]);
    m_profile.BuildSpeedTables();
    m_tracker.MapMotionProfile(1, 60.0f, 0.0f, 1);  // index 60: factor 1.0
    m_tracker.MapMotionProfile(1, 10.0f, 0.0f, 1);  // index 70: factor 1.5
    const auto outputs = Take();
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].x, -60 * 8);
    EXPECT_EQ(outputs[1].x, -(105 - 60) * 8);
}

}  // namespace

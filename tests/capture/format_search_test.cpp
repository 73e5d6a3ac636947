#include "format_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "logging.h"
#include "scripted_capture.h"
#include "settings_store.h"
#include "test_support.h"

namespace {

CaptureCapability Caps(int bits, int width, int height) {
    return CaptureCapability{true, static_cast<std::uint16_t>(bits), width, height};
}

class FormatSearchTest : public ::testing::Test {
protected:
    FormatSearchTest() {
        std::filesystem::create_directory(m_home.path() / "data");
        m_log = std::make_unique<CLogging>(m_store, m_home.path() / "data");
        m_log->Open();
        m_logStart = std::filesystem::file_size(m_log->FilePath());
    }

    // Opens a camera that offers these formats.
    void Camera(std::vector<CaptureCapability> capabilities) {
        m_layer.SetDevices({{{"Cam", "", ""}, std::move(capabilities)}});
        ASSERT_TRUE(m_layer.Open(0));
    }
    int Select(int wantedWidth, int fps = 12) {
        return SelectCaptureFormat(m_layer, wantedWidth, fps, m_format, m_log.get());
    }
    // What the log holds after its start record.
    std::string Logged() const { return test::ReadFile(m_log->FilePath()).substr(m_logStart); }
    static std::string Header(int count) {
        return std::to_string(count) + " GetNumberOfCapabilities iCount\r\n" +
               std::to_string(sizeof(CaptureCapability)) + " GetNumberOfCapabilities iSize\r\n";
    }
    std::vector<std::string> SetFormatCalls() const {
        std::vector<std::string> calls = m_layer.Calls();
        std::erase_if(calls, [](const std::string& c) { return c.rfind("SetFormat", 0) != 0; });
        return calls;
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    std::unique_ptr<CLogging> m_log;
    std::uintmax_t m_logStart = 0;
    CScriptedCapture m_layer;
    CaptureFormat m_format;
};

TEST_F(FormatSearchTest, WantedWidthAt24BitsIsChosenInTheFirstPass) {
    Camera({Caps(24, 320, 240), Caps(24, 640, 480)});
    EXPECT_EQ(Select(640), 1);

    EXPECT_EQ(m_format.width, 640);
    EXPECT_EQ(m_format.height, 480);
    EXPECT_EQ(m_format.capabilityIndex, 1);
    ASSERT_EQ(m_format.resolutions.count, 2);
    EXPECT_EQ(m_format.resolutions.entries[0], (Resolution{320, 240}));
    EXPECT_EQ(m_format.resolutions.entries[1], (Resolution{640, 480}));
    EXPECT_EQ(m_format.resolutions.selected, 1);
    EXPECT_EQ(SetFormatCalls(), std::vector<std::string>{"SetFormat 1 833333"});
    // Even a first-pass success writes the first pass's closing line.
    EXPECT_EQ(Logged(), Header(2) +
                            "0 GetStreamCaps ok\r\n"
                            "24 biBitCount - 24 searchBit - 320 width - 240 height\r\n"
                            "1 GetStreamCaps ok\r\n"
                            "24 biBitCount - 24 searchBit - 640 width - 480 height\r\n"
                            "Resolution selected\r\n"
                            "\r\n"
                            "Timeout == 1, next search = 12 bit\r\n");
}

TEST_F(FormatSearchTest, WithoutAWantedWidthTheFirst24BitFormatWins) {
    Camera({Caps(16, 1280, 720), Caps(24, 320, 240), Caps(24, 640, 480)});
    EXPECT_EQ(Select(0), 1);
    EXPECT_EQ(m_format.width, 320);
    EXPECT_EQ(m_format.height, 240);
    // The rest of the list is still collected, but only one format is applied.
    EXPECT_EQ(m_format.resolutions.count, 2);
    EXPECT_EQ(m_format.resolutions.selected, 0);
    EXPECT_EQ(SetFormatCalls(), std::vector<std::string>{"SetFormat 1 833333"});
}

TEST_F(FormatSearchTest, EqualWidthsGoToTheFirstInTheCamerasOrder) {
    Camera({Caps(24, 640, 480), Caps(24, 640, 360)});
    EXPECT_EQ(Select(640), 0);
    EXPECT_EQ(m_format.height, 480);
    EXPECT_EQ(m_format.resolutions.count, 2);
    EXPECT_EQ(m_format.resolutions.selected, 0);
    EXPECT_EQ(SetFormatCalls().size(), 1u);
}

TEST_F(FormatSearchTest, SixteenBitFormatsAreFoundInTheThirdPass) {
    Camera({Caps(16, 640, 480), Caps(16, 320, 240)});
    EXPECT_EQ(Select(640), 0);
    EXPECT_EQ(m_format.width, 640);
    EXPECT_EQ(m_format.resolutions.count, 2);
    EXPECT_EQ(m_format.resolutions.selected, 0);
    // A depth that does not match leaves its line open for the next entry.
    const std::string missed12 =
        "0 GetStreamCaps ok\r\n16 biBitCount - 12 searchBit - "
        "1 GetStreamCaps ok\r\n16 biBitCount - 12 searchBit - \r\n";
    const std::string missed24 =
        "0 GetStreamCaps ok\r\n16 biBitCount - 24 searchBit - "
        "1 GetStreamCaps ok\r\n16 biBitCount - 24 searchBit - \r\n";
    EXPECT_EQ(Logged(), Header(2) + missed24 + "Timeout == 1, next search = 12 bit\r\n" + missed12 +
                            "Timeout == 2, next search = 16 bit\r\n"
                            "0 GetStreamCaps ok\r\n"
                            "16 biBitCount - 16 searchBit - 640 width - 480 height\r\n"
                            "Resolution selected\r\n"
                            "1 GetStreamCaps ok\r\n"
                            "16 biBitCount - 16 searchBit - 320 width - 240 height\r\n"
                            "\r\n"
                            "Timeout == 3, next search = 24, 1e width selected\r\n");
}

TEST_F(FormatSearchTest, AnyWidthAt12BitsIsTakenInTheFifthPass) {
    Camera({Caps(12, 1280, 720)});
    EXPECT_EQ(Select(640), 0);
    EXPECT_EQ(m_format.width, 1280);
    EXPECT_EQ(m_format.height, 720);
    EXPECT_EQ(m_format.resolutions.count, 1);
    EXPECT_EQ(SetFormatCalls(), std::vector<std::string>{"SetFormat 0 833333"});
    const std::string log = Logged();
    const std::string tail =
        "Timeout == 4, next search = 12 bit\r\n"
        "0 GetStreamCaps ok\r\n"
        "12 biBitCount - 12 searchBit - 1280 width - 720 height\r\n"
        "Resolution selected\r\n"
        "\r\n"
        "Timeout == 5, next search = 16 bit\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    // Pass 2 saw the 12-bit format at the wrong width: listed, not chosen.
    EXPECT_NE(log.find("Timeout == 1, next search = 12 bit\r\n0 GetStreamCaps ok\r\n"
                       "12 biBitCount - 12 searchBit - 1280 width - 720 height\r\n\r\n"
                       "Timeout == 2, next search = 16 bit\r\n"),
              std::string::npos);
}

TEST_F(FormatSearchTest, NothingUsableEndsAfterSixPassesWithoutAFormat) {
    Camera({Caps(8, 640, 480), CaptureCapability{false, 24, 640, 480}});
    EXPECT_EQ(Select(640), -1);
    EXPECT_EQ(m_format.width, 0);
    EXPECT_EQ(m_format.capabilityIndex, -1);
    EXPECT_TRUE(SetFormatCalls().empty());
    const std::string log = Logged();
    // A format that is not video is logged as seen and nothing more.
    EXPECT_NE(log.find("1 GetStreamCaps ok\r\n\r\nTimeout == 1"), std::string::npos);
    const std::string tail = "\r\nTimeout == 5, next search = 16 bit\r\n"
                             "0 GetStreamCaps ok\r\n8 biBitCount - 16 searchBit - "
                             "1 GetStreamCaps ok\r\n\r\n"
                             "Timeout == 6, FATAL nothing found\r\n";
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(FormatSearchTest, FiftyFiveFormatsKeepFiftyResolutions) {
    std::vector<CaptureCapability> caps;
    for (int i = 0; i < 55; ++i) caps.push_back(Caps(24, 100 + i, 50 + i));
    Camera(caps);

    EXPECT_EQ(Select(100 + 52), 52);
    EXPECT_EQ(m_format.width, 152);
    EXPECT_EQ(m_format.height, 102);
    EXPECT_EQ(m_format.resolutions.count, ResolutionList::kCapacity);
    EXPECT_EQ(m_format.resolutions.entries[49], (Resolution{149, 99}));
    EXPECT_EQ(m_format.resolutions.selected, 49);

    CaptureFormat inList;
    EXPECT_EQ(SelectCaptureFormat(m_layer, 110, 12, inList, nullptr), 10);
    EXPECT_EQ(inList.resolutions.selected, 10);
    EXPECT_EQ(inList.resolutions.count, 50);
}

TEST_F(FormatSearchTest, AnEarlierChoiceIsKept) {
    Camera({Caps(24, 320, 240), Caps(24, 640, 480)});
    ASSERT_EQ(Select(640), 1);
    m_layer.FailGetCapability(0);  // would change nothing either way
    const auto logged = Logged().size();

    EXPECT_EQ(Select(320), -1);
    EXPECT_EQ(m_format.width, 640);
    EXPECT_EQ(m_format.capabilityIndex, 1);
    EXPECT_EQ(SetFormatCalls().size(), 1u);
    EXPECT_EQ(Logged().substr(logged), Header(2));
}

TEST_F(FormatSearchTest, UndescribedFormatsAreSkippedAndARefusedFormatStillCounts) {
    Camera({Caps(24, 640, 480), Caps(24, 640, 360)});
    m_layer.FailGetCapability(0);
    m_layer.FailSetFormat(true);
    EXPECT_EQ(Select(640), 1);
    EXPECT_EQ(m_format.height, 360);
    EXPECT_EQ(SetFormatCalls(), std::vector<std::string>{"SetFormat 1 833333 failed"});
    EXPECT_EQ(Logged().substr(0, Header(2).size() + 20), Header(2) + "1 GetStreamCaps ok\r\n");
}

TEST_F(FormatSearchTest, FrameIntervalsFollowTheFrameRate) {
    EXPECT_EQ(FrameIntervalFor(12), 833'333);
    EXPECT_EQ(FrameIntervalFor(30), 333'333);
    EXPECT_EQ(FrameIntervalFor(1), 10'000'000);
    // A rate below 1 never reaches the division.
    EXPECT_EQ(FrameIntervalFor(0), 10'000'000);
    EXPECT_EQ(FrameIntervalFor(-5), 10'000'000);

    Camera({Caps(24, 640, 480)});
    Select(640, 30);
    EXPECT_EQ(SetFormatCalls(), std::vector<std::string>{"SetFormat 0 333333"});
}

}  // namespace

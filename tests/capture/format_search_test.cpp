#include "format_search.h"

#include <gtest/gtest.h>

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

std::vector<std::string> SetFormatCalls(const CScriptedCapture& layer) {
    std::vector<std::string> calls = layer.Calls();
    std::erase_if(calls, [](const std::string& c) { return c.rfind("SetFormat", 0) != 0; });
    return calls;
}

std::string Header(int count) {
    return std::to_string(count) + " GetNumberOfCapabilities iCount\r\n" +
           std::to_string(sizeof(CaptureCapability)) + " GetNumberOfCapabilities iSize\r\n";
}

// The diagnostic log is how a camera that will not start is diagnosed, so its lines are pinned.
class FormatSearch : public ::testing::Test {
protected:
    FormatSearch() {
        std::filesystem::create_directory(m_home.path() / "data");
        m_log = std::make_unique<CLogging>(m_store, m_home.path() / "data");
        m_log->Open();
        m_logStart = std::filesystem::file_size(m_log->FilePath());
    }
    std::string Logged() const { return test::ReadFile(m_log->FilePath()).substr(m_logStart); }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    std::unique_ptr<CLogging> m_log;
    std::uintmax_t m_logStart = 0;
    CScriptedCapture m_layer;
    CaptureFormat m_format;
};

struct SearchCase {
    const char* name;
    std::vector<CaptureCapability> caps;
    int wantedWidth, fps;
    int failCapability;  // -1: every format can be described
    bool failSetFormat;
    int result, width, height, listed, selected;
    Resolution atSelected;  // the list's entry for the choice
    std::vector<std::string> setFormat;
    std::string logTail;  // one that starts with the header is the whole log
};

TEST_F(FormatSearch, ChoosesLogsAndAppliesTheFormat) {
    // A depth that does not match leaves its line open for the next entry.
    const std::string missed16at12 = "0 GetStreamCaps ok\r\n16 biBitCount - 12 searchBit - "
                                     "1 GetStreamCaps ok\r\n16 biBitCount - 12 searchBit - \r\n";
    const std::string missed16at24 = "0 GetStreamCaps ok\r\n16 biBitCount - 24 searchBit - "
                                     "1 GetStreamCaps ok\r\n16 biBitCount - 24 searchBit - \r\n";
    std::vector<CaptureCapability> fiftyFive;
    for (int i = 0; i < 55; ++i) fiftyFive.push_back(Caps(24, 100 + i, 50 + i));

    const SearchCase cases[] = {
        // Even a first-pass success writes the first pass's closing line.
        {"24 bits at the wanted width", {Caps(24, 320, 240), Caps(24, 640, 480)}, 640, 12, -1, false,
         1, 640, 480, 2, 1, {640, 480}, {"SetFormat 1 833333"},
         Header(2) + "0 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 320 width - 240 height\r\n"
                     "1 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 640 width - 480 height\r\n"
                     "Resolution selected\r\n\r\nTimeout == 1, next search = 12 bit\r\n"},
        {"30 frames a second", {Caps(24, 640, 480)}, 640, 30, -1, false, 0, 640, 480, 1, 0, {640, 480}, {"SetFormat 0 333333"},
         "Resolution selected\r\n\r\nTimeout == 1, next search = 12 bit\r\n"},
        // The rest of the list is still collected, but only one format is applied.
        {"no wanted width", {Caps(16, 1280, 720), Caps(24, 320, 240), Caps(24, 640, 480)}, 0, 12, -1, false,
         1, 320, 240, 2, 0, {320, 240}, {"SetFormat 1 833333"},
         Header(3) + "0 GetStreamCaps ok\r\n16 biBitCount - 24 searchBit - "
                     "1 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 320 width - 240 height\r\n"
                     "Resolution selected\r\n"
                     "2 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 640 width - 480 height\r\n"
                     "\r\nTimeout == 1, next search = 12 bit\r\n"},
        {"equal widths", {Caps(24, 640, 480), Caps(24, 640, 360)}, 640, 12, -1, false,
         0, 640, 480, 2, 0, {640, 480}, {"SetFormat 0 833333"},
         Header(2) + "0 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 640 width - 480 height\r\n"
                     "Resolution selected\r\n"
                     "1 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 640 width - 360 height\r\n"
                     "\r\nTimeout == 1, next search = 12 bit\r\n"},
        {"16 bits only, third pass", {Caps(16, 640, 480), Caps(16, 320, 240)}, 640, 12, -1, false,
         0, 640, 480, 2, 0, {640, 480}, {"SetFormat 0 833333"},
         Header(2) + missed16at24 + "Timeout == 1, next search = 12 bit\r\n" + missed16at12 +
             "Timeout == 2, next search = 16 bit\r\n"
             "0 GetStreamCaps ok\r\n16 biBitCount - 16 searchBit - 640 width - 480 height\r\n"
             "Resolution selected\r\n"
             "1 GetStreamCaps ok\r\n16 biBitCount - 16 searchBit - 320 width - 240 height\r\n"
             "\r\nTimeout == 3, next search = 24, 1e width selected\r\n"},
        // Pass 2 lists the 12-bit format at the wrong width without choosing it.
        {"12 bits only, fifth pass", {Caps(12, 1280, 720)}, 640, 12, -1, false, 0, 1280, 720, 1, 0,
         {1280, 720}, {"SetFormat 0 833333"},
         "Timeout == 1, next search = 12 bit\r\n"
         "0 GetStreamCaps ok\r\n12 biBitCount - 12 searchBit - 1280 width - 720 height\r\n\r\n"
         "Timeout == 2, next search = 16 bit\r\n"
         "0 GetStreamCaps ok\r\n12 biBitCount - 16 searchBit - \r\n"
         "Timeout == 3, next search = 24, 1e width selected\r\n"
         "0 GetStreamCaps ok\r\n12 biBitCount - 24 searchBit - \r\n"
         "Timeout == 4, next search = 12 bit\r\n"
         "0 GetStreamCaps ok\r\n12 biBitCount - 12 searchBit - 1280 width - 720 height\r\n"
         "Resolution selected\r\n\r\nTimeout == 5, next search = 16 bit\r\n"},
        // A format that is not video is logged as seen and nothing more.
        {"nothing usable", {Caps(8, 640, 480), CaptureCapability{false, 24, 640, 480}}, 640, 12, -1, false,
         -1, 0, 0, 0, 0, {}, {},
         "\r\nTimeout == 5, next search = 16 bit\r\n"
         "0 GetStreamCaps ok\r\n8 biBitCount - 16 searchBit - 1 GetStreamCaps ok\r\n\r\n"
         "Timeout == 6, FATAL nothing found\r\n"},
        // The list holds 50; a later choice points at its last entry.
        {"fifty-five formats", fiftyFive, 152, 12, -1, false, 52, 152, 102, 50, 49, {149, 99}, {"SetFormat 52 833333"},
         "52 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 152 width - 102 height\r\nResolution selected\r\n"
         "53 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 153 width - 103 height\r\n"
         "54 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 154 width - 104 height\r\n"
         "\r\nTimeout == 1, next search = 12 bit\r\n"},
        // A refused format still counts as chosen; an undescribed one is skipped unlogged.
        {"undescribed and refused", {Caps(24, 640, 480), Caps(24, 640, 360)}, 640, 12, 0, true,
         1, 640, 360, 1, 0, {640, 360}, {"SetFormat 1 833333 failed"},
         Header(2) + "1 GetStreamCaps ok\r\n24 biBitCount - 24 searchBit - 640 width - 360 height\r\n"
                     "Resolution selected\r\n\r\nTimeout == 1, next search = 12 bit\r\n"},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedCapture layer;
        layer.SetDevices({{{"Cam", "", ""}, c.caps}});
        ASSERT_TRUE(layer.Open(0));
        if (c.failCapability >= 0) layer.FailGetCapability(c.failCapability);
        layer.FailSetFormat(c.failSetFormat);
        CaptureFormat format;
        const auto logStart = test::ReadFile(m_log->FilePath()).size();

        EXPECT_EQ(SelectCaptureFormat(layer, c.wantedWidth, c.fps, format, m_log.get()), c.result);
        EXPECT_EQ(format.width, c.width);
        EXPECT_EQ(format.height, c.height);
        EXPECT_EQ(format.capabilityIndex, c.result);
        EXPECT_EQ(format.resolutions.count, c.listed);
        EXPECT_EQ(format.resolutions.selected, c.selected);
        EXPECT_EQ(format.resolutions.entries[c.selected], c.atSelected);
        EXPECT_EQ(SetFormatCalls(layer), c.setFormat);
        const std::string log = test::ReadFile(m_log->FilePath()).substr(logStart);
        ASSERT_GE(log.size(), c.logTail.size()) << log;
        EXPECT_EQ(log.substr(log.size() - c.logTail.size()), c.logTail);
        if (c.logTail.starts_with(Header(static_cast<int>(c.caps.size())))) {
            EXPECT_EQ(log, c.logTail);
        }
    }
}

TEST_F(FormatSearch, AnEarlierChoiceIsKept) {
    m_layer.SetDevices({{{"Cam", "", ""}, {Caps(24, 320, 240), Caps(24, 640, 480)}}});
    ASSERT_TRUE(m_layer.Open(0));
    ASSERT_EQ(SelectCaptureFormat(m_layer, 640, 12, m_format, nullptr), 1);  // a null log is allowed
    const auto logged = Logged().size();

    EXPECT_EQ(SelectCaptureFormat(m_layer, 320, 12, m_format, m_log.get()), -1);
    EXPECT_EQ(m_format.width, 640);
    EXPECT_EQ(m_format.capabilityIndex, 1);
    EXPECT_EQ(SetFormatCalls(m_layer).size(), 1u);
    EXPECT_EQ(Logged().substr(logged), Header(2));
}

TEST(FrameInterval, ARateBelowOneCountsAsOne) {
    EXPECT_EQ(FrameIntervalFor(1), 10'000'000);
    EXPECT_EQ(FrameIntervalFor(0), 10'000'000);
    EXPECT_EQ(FrameIntervalFor(-5), 10'000'000);
}

}  // namespace

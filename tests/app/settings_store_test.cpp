#include "settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "test_support.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    test::TempConfigHome m_home;
};

TEST_F(SettingsStoreTest, ValuesRoundTripThroughTheFileInTheConfigHome) {
    {
        CSettingsStore store;
        EXPECT_EQ(store.FilePath(), m_home.SettingsFile().string());
        EXPECT_TRUE(store.Write(Setting::kLogCount, 7));  // "general" is special to QSettings
        EXPECT_TRUE(store.Write(Setting::kProfileEnable, 1));  // a key with a blank
        EXPECT_TRUE(store.Write(Setting::kBootUseMouse, 1));
        EXPECT_TRUE(store.WriteProfileInt("settings", "useMouse", 0));  // same key, other section
        EXPECT_TRUE(store.Write(Setting::kHotkeyMouse, -2147483647 - 1));
        EXPECT_TRUE(store.Write(Setting::kProfilePoints[1][15], 300));
        // Each write is on disk at once, before the store goes away.
        EXPECT_TRUE(std::filesystem::exists(m_home.SettingsFile()));
        EXPECT_EQ(CSettingsStore().Read(Setting::kLogCount), 7);
    }
    // The file reads as a person would write it, so another process (or an editor) finds the keys.
    const std::string text = test::ReadFile(m_home.SettingsFile());
    EXPECT_NE(text.find("[general]\nlogCount=7\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[profile]\nprofile enable=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[boot]\nuseMouse=1\n"), std::string::npos) << text;

    CSettingsStore reopened;
    EXPECT_EQ(reopened.Read(Setting::kLogCount), 7);
    EXPECT_EQ(reopened.Read(Setting::kProfileEnable), 1);
    EXPECT_TRUE(reopened.ReadBool(Setting::kBootUseMouse));
    EXPECT_FALSE(reopened.ReadBool(Setting::kUseMouse));
    EXPECT_EQ(reopened.Read(Setting::kHotkeyMouse), -2147483647 - 1);
    EXPECT_EQ(reopened.GetProfileInt("profile", "profileAxis1_18", 120), 300);
}

TEST_F(SettingsStoreTest, AnEmptyProfileReadsEveryDefault) {
    CSettingsStore store;
    for (const SettingKey& key : Setting::kNamedKeys) EXPECT_EQ(store.Read(key), key.defaultValue) << key.key;
    for (const auto& axis : Setting::kProfilePoints)
        for (const SettingKey& key : axis) EXPECT_EQ(store.Read(key), 120) << key.key;
    EXPECT_EQ(store.GetProfileInt("no such section", "no such key", -9), -9);

    EXPECT_EQ(store.ReadClamped(Setting::kSliderLrMouse), 8);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderUdMouse), 10);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderSmoothMouse), 3);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderAccWindowMouse), 5);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderAccMouse), 5);
    EXPECT_TRUE(store.ReadBool(Setting::kFlightAutoCenter));
    EXPECT_TRUE(store.ReadBool(Setting::kEnableAutoClickSound));
    EXPECT_EQ(store.Read(Setting::kValueAutoClick), 15);
    EXPECT_EQ(store.Read(Setting::kFloatLeft), 100);
    EXPECT_EQ(store.Read(Setting::kUpdateCount), 200);
    // Reading creates nothing.
    EXPECT_FALSE(std::filesystem::exists(m_home.SettingsFile()));
}

TEST_F(SettingsStoreTest, ReadersClampWithoutWritingBack) {
    CSettingsStore store;
    store.Write(Setting::kSliderLrMouse, 0);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderLrMouse), 1);
    store.Write(Setting::kSliderLrMouse, 99);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderLrMouse), 20);
    EXPECT_EQ(store.Read(Setting::kSliderLrMouse), 99);  // stays until the user moves the slider

    for (int fps : {0, -5}) {
        store.Write(Setting::kCameraFps, fps);
        EXPECT_EQ(store.ReadClamped(Setting::kCameraFps), 1);
    }
    store.Write(Setting::kCameraFps, 60);
    EXPECT_EQ(store.ReadClamped(Setting::kCameraFps), 60);  // no upper bound

    store.Write(Setting::kSliderLrSimFS, 50);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderLrSimFS), 50);
    store.Write(Setting::kSliderAccMouse, 3);
    EXPECT_EQ(store.ReadClamped(Setting::kSliderAccMouse), 4);
    store.Write(Setting::kUseMouse, 7);
    EXPECT_TRUE(store.ReadBool(Setting::kUseMouse));
}

TEST_F(SettingsStoreTest, HandEditedValuesThatAreNotIntegersReadAsTheDefault) {
    test::WriteFile(m_home.SettingsFile(),
                    "; kept by hand\n"
                    "loose=1\n"
                    "[general]\n"
                    "logCount = 4\n"
                    "not a setting\n"
                    "[settings]\n"
                    "sliderLrMouse=abc\n"
                    "sliderUdMouse=12.5\n"
                    "sliderSmoothMouse=\n"
                    "sliderAccMouse=99999999999\n"
                    "sliderAccWindowMouse=1, 2\n"
                    "floatLeft=-40\n"
                    "floatTop= 250 \n");
    CSettingsStore store;
    EXPECT_EQ(store.Read(Setting::kSliderLrMouse), 8);
    EXPECT_EQ(store.Read(Setting::kSliderUdMouse), 10);
    EXPECT_EQ(store.Read(Setting::kSliderSmoothMouse), 3);
    EXPECT_EQ(store.Read(Setting::kSliderAccMouse), 5);
    EXPECT_EQ(store.Read(Setting::kSliderAccWindowMouse), 5);
    EXPECT_EQ(store.Read(Setting::kFloatLeft), -40);
    EXPECT_EQ(store.Read(Setting::kFloatTop), 250);
    EXPECT_EQ(store.Read(Setting::kLogCount), 4);

    // Writing one key keeps every other line the user had.
    store.Write(Setting::kSliderLrMouse, 9);
    CSettingsStore reopened;
    EXPECT_EQ(reopened.Read(Setting::kSliderLrMouse), 9);
    EXPECT_EQ(reopened.Read(Setting::kFloatLeft), -40);
    EXPECT_EQ(reopened.Read(Setting::kFloatTop), 250);
    EXPECT_EQ(reopened.Read(Setting::kLogCount), 4);
    EXPECT_EQ(reopened.GetProfileInt("", "loose", 0), 1);
}

TEST_F(SettingsStoreTest, AFailedWriteIsReported) {
    // A file where the folder should be: nothing can be written, whoever runs the test.
    test::WriteFile(m_home.path() / "KordO", "");
    CSettingsStore store;
    EXPECT_FALSE(store.Write(Setting::kSliderLrMouse, 12));
    // Each write reports its own outcome: once the folder can be made, writing works again.
    std::filesystem::remove(m_home.path() / "KordO");
    EXPECT_TRUE(store.Write(Setting::kSliderLrMouse, 13));
    EXPECT_EQ(CSettingsStore().Read(Setting::kSliderLrMouse), 13);
}

TEST_F(SettingsStoreTest, AProcessKilledWhileWritingLeavesACompleteFile) {
    for (int round = 0; round < 12; ++round) {
        // A writer killed between creating its lock file and filling it leaves a lock that Qt
        // only takes for stale after 30 s; the writer is gone, so clear it as time would.
        std::filesystem::remove(m_home.SettingsFile());
        std::filesystem::remove(m_home.SettingsFile().string() + ".lock");
        char* argv[] = {const_cast<char*>(MIVEX_SETTINGS_WRITER), nullptr};
        pid_t writer = 0;
        ASSERT_EQ(::posix_spawn(&writer, MIVEX_SETTINGS_WRITER, nullptr, nullptr, argv, environ), 0);

        // Let the writer finish its first writes, then kill it at some moment of its loop.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool looping = false;
        while (!(looping = CSettingsStore().Contains(Setting::kUpdateCount.section, Setting::kUpdateCount.key)) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        ASSERT_TRUE(looping) << "the writer never reached its loop";

        CSettingsStore store;
        for (int axis = 0; axis < 2; ++axis)
            for (int point = 0; point < Setting::kProfilePointsPerAxis; ++point)
                ASSERT_EQ(store.Read(Setting::kProfilePoints[axis][point]), 20 + axis * 100 + point)
                    << "round " << round;
        EXPECT_GE(store.GetProfileInt(Setting::kUpdateCount.section, Setting::kUpdateCount.key, -1), 0);
    }
}

TEST(SettingsKeyTable, NamesAreUniqueAndFoundByName) {
    std::set<std::pair<std::string, std::string>> names;
    auto add = [&](const SettingKey& key) {
        EXPECT_TRUE(names.emplace(key.section, key.key).second) << key.section << "/" << key.key;
        EXPECT_EQ(FindSettingKey(key.section, key.key), &key);
        EXPECT_LE(key.minValue, key.defaultValue);
        EXPECT_GE(key.maxValue, key.defaultValue);
    };
    for (const SettingKey& key : Setting::kNamedKeys) add(key);
    for (const auto& axis : Setting::kProfilePoints)
        for (const SettingKey& key : axis) add(key);
    EXPECT_EQ(names.size(), 38u + 32u);
    EXPECT_EQ(FindSettingKey("settings", "logCount"), nullptr);
    EXPECT_EQ(FindSettingKey("profile", "profileAxis0_9"), nullptr);
}

TEST(SettingsKeyTable, AssignmentsNameAKeyOfTheTableAndAWholeNumber) {
    std::string error;
    const auto blank = ParseSettingAssignment("profile/profile enable=1", error);
    ASSERT_TRUE(blank) << error;
    EXPECT_STREQ(blank->key->key, Setting::kProfileEnable.key);
    EXPECT_EQ(blank->value, 1);
    EXPECT_EQ(ParseSettingAssignment("settings/sliderLrMouse=-7", error)->value, -7);
    for (const char* wrong : {"settings/sliderLrMouse", "sliderLrMouse=3", "settings/nothing=3",
                              "settings/sliderLrMouse=3.5", "settings/sliderLrMouse=", "settings/sliderLrMouse=9999999999"}) {
        error.clear();
        EXPECT_FALSE(ParseSettingAssignment(wrong, error)) << wrong;
        EXPECT_FALSE(error.empty()) << wrong;
    }
}

TEST(SettingsKeyTable, ProfilePointsAreNamedByAxisAndSuffix) {
    const char* suffixes[] = {"1", "2", "3", "4", "5", "6", "7", "8", "11", "12", "13", "14", "15", "16", "17", "18"};
    for (int axis = 0; axis < 2; ++axis)
        for (int point = 0; point < Setting::kProfilePointsPerAxis; ++point) {
            const std::string expected = "profileAxis" + std::to_string(axis) + "_" + suffixes[point];
            EXPECT_EQ(Setting::kProfilePoints[axis][point].key, expected);
            EXPECT_STREQ(Setting::kProfilePoints[axis][point].section, "profile");
        }
}

}  // namespace

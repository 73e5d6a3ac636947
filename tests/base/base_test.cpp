// The base library: the settings store and its key table, the diagnostic log, the system report.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "base/logging.h"
#include "base/paths.h"
#include "base/settings_store.h"
#include "base/system_version.h"
#include "tests/support/test_support.h"

namespace {

std::optional<std::tm> NinthOfMarch2008() {
    std::tm t{};
    t.tm_year = 2008 - 1900, t.tm_mon = 2, t.tm_mday = 9, t.tm_hour = 14, t.tm_min = 27, t.tm_sec = 5;
    return t;
}

// A private settings file and data folder; the log's clock always reads 9 March 2008.
class Base : public ::testing::Test {
protected:
    Base() { std::filesystem::create_directory(DataDir()); }

    std::filesystem::path DataDir() const { return m_home.path() / "data"; }
    std::unique_ptr<CLogging> MakeLog() { return std::make_unique<CLogging>(m_store, DataDir(), NinthOfMarch2008); }
    std::string ReadLog(int number) const {
        return test::ReadFile(DataDir() / ("MivexLog" + std::to_string(number) + ".txt"));
    }
    // What a log holds after its start record.
    std::string Body(const std::string& log) const {
        const std::string record = StartRecord();
        EXPECT_EQ(log.substr(0, record.size()), record);
        return log.substr(std::min(record.size(), log.size()));
    }
    static std::string StartRecord() {
        return "2008Year-3Month-14Hour-9Day-27Min-5Sec" + CSystemVersion().m_strSystem + "\r\n\r\n";
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
};

using SettingsStore = Base;
using Logging = Base;

TEST_F(SettingsStore, ValuesRoundTripThroughAFileAPersonCouldHaveWrittenAndHandEditsSurvive) {
    EXPECT_EQ(m_store.FilePath(), m_home.SettingsFile().string());
    test::WriteFile(m_home.SettingsFile(), "loose=1\n[settings]\nsliderUdMouse=12.5\n");
    // "general" is special to QSettings, "profile enable" has a blank, useMouse is in two sections.
    const std::pair<SettingKey, int> values[] = {
        {Setting::kLogCount, 7}, {Setting::kProfileEnable, 1},     {Setting::kBootUseMouse, 1},
        {Setting::kUseMouse, 0}, {Setting::kHotkeyMouse, INT_MIN}, {Setting::kProfilePoints[1][15], 300}};
    for (const auto& [key, value] : values) EXPECT_TRUE(m_store.Write(key, value)) << key.key;
    // Texts sit beside the integers, trimmed; a line break would smuggle in a line of its own.
    EXPECT_EQ(m_store.ReadText(Setting::kFlightTarget), "127.0.0.1:4242");
    EXPECT_TRUE(m_store.WriteText(Setting::kFlightTarget, " [::1]:5 "));
    EXPECT_FALSE(m_store.WriteText(Setting::kFlightTarget, "1.2.3.4:1\nflight=1"));
    // On disk as soon as each write returns, while the store still lives.
    for (const char* part : {"[general]\nlogCount=7\n", "[profile]\nprofile enable=1\n", "[boot]\nuseMouse=1\n",
                             "[settings]\nflightTarget=[::1]:5\nhotkeyMouse=-2147483648\n"})
        EXPECT_NE(test::ReadFile(m_home.SettingsFile()).find(part), std::string::npos) << part;

    CSettingsStore reopened;
    for (const auto& [key, value] : values) EXPECT_EQ(reopened.Read(key), value) << key.key;
    EXPECT_EQ(reopened.ReadText(Setting::kFlightTarget), "[::1]:5");
    EXPECT_EQ(reopened.GetProfileInt("profile", "profileAxis1_18", 120), 300);
    // A value that is not a whole number reads as the default; other lines stay as written.
    EXPECT_EQ(reopened.Read(Setting::kSliderUdMouse), 10);
    EXPECT_EQ(reopened.GetProfileInt("", "loose", 0), 1);

    // A store reads each change of the file, also edits in place at once with the same size.
    for (const char* value : {"3", "4"}) {
        test::WriteFile(m_home.SettingsFile(), std::string("[settings]\nsliderLrMouse=") + value + "\n");
        EXPECT_EQ(reopened.Read(Setting::kSliderLrMouse), std::atoi(value));
    }
    m_store.Write(Setting::kSliderLrMouse, 5);
    EXPECT_EQ(reopened.Read(Setting::kSliderLrMouse), 5);
}

TEST_F(SettingsStore, AbsentKeysReadTheirDefaultAndClampedReadsForceTheRangeWithoutWritingBack) {
    for (const SettingKey& key : Setting::kNamedKeys) EXPECT_EQ(m_store.Read(key), key.defaultValue) << key.key;
    for (const auto& axis : Setting::kProfilePoints)
        for (const SettingKey& key : axis) EXPECT_EQ(m_store.ReadClamped(key), key.defaultValue) << key.key;
    EXPECT_EQ(m_store.GetProfileInt("no such section", "no such key", -9), -9);
    EXPECT_FALSE(std::filesystem::exists(m_home.SettingsFile())) << "reading creates nothing";

    // clang-format off
    const struct { SettingKey key; int stored, read; } cases[] = {
        {Setting::kSliderLrMouse, 0, 1},  {Setting::kSliderLrMouse, 99, 20}, {Setting::kCameraFps, 0, 1},
        {Setting::kCameraFps, -5, 1},     {Setting::kCameraFps, 60, 60},     {Setting::kSliderLrSimFS, 50, 50},
        {Setting::kSliderAccMouse, 3, 4},
    };
    // clang-format on
    for (const auto& c : cases) {
        m_store.Write(c.key, c.stored);
        EXPECT_EQ(m_store.ReadClamped(c.key), c.read) << c.key.key << "=" << c.stored;
        EXPECT_EQ(m_store.Read(c.key), c.stored) << "stays until the user moves the slider";
    }
    m_store.Write(Setting::kUseMouse, 7);
    EXPECT_TRUE(m_store.ReadBool(Setting::kUseMouse));
}

TEST_F(SettingsStore, EachWriteReportsItsOwnFailureAndWhy) {
    // What is in the way stops any user, an administrator too.
    const struct {
        std::filesystem::path path;
        bool folder;
        const char* why;
    } blocked[] = {{m_home.path() / "KordO", false, "KordO is not a folder"},
                   {m_home.SettingsFile(), true, "Mivex.ini: Filename refers to a directory"}};
    for (const auto& c : blocked) {
        std::filesystem::remove_all(m_home.path() / "KordO");
        c.folder ? (void)std::filesystem::create_directories(c.path) : test::WriteFile(c.path, "");
        EXPECT_FALSE(m_store.Write(Setting::kSliderLrMouse, 12));
        EXPECT_NE(m_store.WriteError().find(c.why), std::string::npos) << m_store.WriteError();
        std::filesystem::remove_all(c.path);
        EXPECT_TRUE(m_store.Write(Setting::kSliderLrMouse, 13));
        EXPECT_EQ(m_store.WriteError(), "");
        EXPECT_EQ(CSettingsStore().Read(Setting::kSliderLrMouse), 13);
    }
}

TEST_F(SettingsStore, AnUnreadableFileIsCopiedAsideWholeBeforeTheFirstWriteAndSaidOnce) {
    auto copies = [&] {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(m_home.SettingsFile().parent_path()))
            if (entry.path().filename().string().starts_with("Mivex.ini.unreadable-")) found.push_back(entry.path());
        return found;
    };
    using namespace std::string_literals;
    const std::string hostile[] = {
        "\x7f"
        "ELF\x02\x01\x01\0\0\0\0\x03\0>\0[settings]\nsliderLrMouse=3\n"s,
        "\xff\xfe[\0s\0e\0t\0]\0\n\0a\0=\0"
        "1\0\n\0"s,
        "[settings\nsliderLrMouse=3\n",
        "[settings]\nsliderLrMouse=3\n\xc3\x28=1\n",
    };
    for (const std::string& bytes : hostile) {
        test::WriteFile(m_home.SettingsFile(), bytes);
        const std::size_t before = copies().size();
        EXPECT_EQ(m_store.Read(Setting::kSliderLrMouse), Setting::kSliderLrMouse.defaultValue);
        EXPECT_EQ(CSettingsStore::TakeUnreadableNotice(), "") << "reading alone copies nothing";
        EXPECT_TRUE(m_store.Write(Setting::kSliderUdMouse, 12));
        const auto found = copies();
        ASSERT_EQ(found.size(), before + 1) << "an earlier copy of the same second is kept";
        const std::string notice = CSettingsStore::TakeUnreadableNotice();
        bool named = false;
        for (const auto& copy : found)
            if (test::ReadFile(copy) == bytes) named = named || notice.find(copy.string()) != std::string::npos;
        EXPECT_TRUE(named) << "the notice names a whole copy: " << notice;
        EXPECT_TRUE(m_store.Write(Setting::kSliderUdMouse, 13));
        EXPECT_EQ(copies().size(), before + 1);
        EXPECT_EQ(CSettingsStore::TakeUnreadableNotice(), "") << "said once";
        EXPECT_EQ(CSettingsStore().Read(Setting::kSliderUdMouse), 13);
    }
    // A good file, comments included, is rewritten without a copy.
    test::WriteFile(m_home.SettingsFile(), "\xef\xbb\xbf; mine\r\n[settings]\r\nsliderLrMouse=3\r\n");
    const std::size_t before = copies().size();
    EXPECT_TRUE(m_store.Write(Setting::kSliderUdMouse, 14));
    EXPECT_EQ(copies().size(), before);
    EXPECT_EQ(CSettingsStore::TakeUnreadableNotice(), "");
    EXPECT_EQ(CSettingsStore().Read(Setting::kSliderLrMouse), 3);
}

TEST_F(SettingsStore, AWriterKilledMidWriteNeverLeavesACorruptFile) {
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
        ::kill(writer, SIGKILL), ::waitpid(writer, nullptr, 0);
        ASSERT_TRUE(looping) << "the writer never reached its loop";

        // What the other process wrote, a key with a blank and the "general" section included.
        CSettingsStore store;
        for (int axis = 0; axis < 2; ++axis)
            for (int point = 0; point < Setting::kProfilePointsPerAxis; ++point)
                ASSERT_EQ(store.Read(Setting::kProfilePoints[axis][point]), 20 + axis * 100 + point) << round;
        ASSERT_EQ(store.Read(Setting::kProfileEnable), 1) << "round " << round;
        EXPECT_GE(store.GetProfileInt(Setting::kUpdateCount.section, Setting::kUpdateCount.key, -1), 0);
    }
}

TEST(SettingsKeyTable, NamesAreUniqueAndFoundByNameAlsoInAssignments) {
    std::set<std::pair<std::string, std::string>> names;
    auto check = [&](const SettingKey& key) {
        EXPECT_TRUE(names.emplace(key.section, key.key).second) << key.section << "/" << key.key;
        EXPECT_EQ(FindSettingKey(key.section, key.key), &key);
        EXPECT_TRUE(key.minValue <= key.defaultValue && key.defaultValue <= key.maxValue) << key.key;
    };
    for (const SettingKey& key : Setting::kNamedKeys) check(key);
    for (const auto& axis : Setting::kProfilePoints) std::ranges::for_each(axis, check);
    EXPECT_EQ(FindSettingKey("settings", "logCount"), nullptr);
    EXPECT_EQ(FindSettingKey("profile", "profileAxis0_9"), nullptr);
    std::string error;
    const auto blank = ParseSettingAssignment("profile/profile enable=1", error);
    EXPECT_EQ(blank ? blank->key : nullptr, FindSettingKey("profile", "profile enable")) << error;
    EXPECT_FALSE(ParseSettingAssignment("settings/sliderLrMouse=3.5", error));
}

TEST_F(Logging, RunsRotateThroughElevenFilesAndAnOldFileIsEmptied) {
    m_store.Write(Setting::kLogCount, 9);
    for (int expected : {9, 10, 0, 1}) {
        auto log = MakeLog();
        EXPECT_EQ(std::pair(log->LogCount(), m_store.Read(Setting::kLogCount)), std::pair(expected, expected + 1));
        log->Open(), log->Write("run " + std::to_string(expected), true);
        EXPECT_EQ(Body(ReadLog(expected)), "run " + std::to_string(expected) + "\r\n");
    }

    m_store.Write(Setting::kLogCount, 10);
    MakeLog()->Open();
    EXPECT_EQ(Body(ReadLog(10)), "");

    for (int stored : {11, 500, -3}) {
        m_store.Write(Setting::kLogCount, stored);
        EXPECT_EQ(MakeLog()->LogCount(), 0) << stored;
        EXPECT_EQ(m_store.Read(Setting::kLogCount), 1);
    }

    // A store that cannot keep the counter: the files tell where the rotation stands.
    for (int number : {0, 1, 9, 10})
        std::filesystem::remove(DataDir() / ("MivexLog" + std::to_string(number) + ".txt"));
    std::filesystem::remove(m_home.SettingsFile());
    std::filesystem::create_directory(m_home.SettingsFile());
    for (int expected : {0, 1, 2}) {
        auto log = MakeLog();
        EXPECT_EQ(log->LogCount(), expected);
        log->Open();
    }
}

TEST_F(Logging, TextsAreCutAt300BytesAndNumbersAt50WithoutSplittingACharacter) {
    auto log = MakeLog();
    log->Open();
    log->Write(std::string(400, 'a'), true);
    log->Write("next", true);
    log->Write(std::string(298, 'b'), true);  // exactly 300 with its line end
    log->Write(std::string(299, 'c'), true);  // the line end's second byte is lost
    log->WriteInt(-5, "", true);
    log->WriteInt(12345, "Year-", false);
    log->WriteInt(7, std::string(60, 's'), true);
    log->Write(std::string(299, 'd') + "\xC3\xA9", false);  // "é" would straddle the limit
    EXPECT_EQ(Body(ReadLog(0)), std::string(300, 'a') + "next\r\n" + std::string(298, 'b') + "\r\n" +
                                    std::string(299, 'c') + "\r-5\r\n12345Year-7" + std::string(49, 's') +
                                    std::string(299, 'd'));
}

TEST_F(Logging, TheStartRecordNamesTheTimeAndEachFieldFallsBackOnItsOwn) {
    auto log = MakeLog();
    EXPECT_TRUE(log->Open() && log->IsOpen());
    EXPECT_EQ(ReadLog(0), StartRecord());

    m_store.Write(Setting::kLogCount, 5);
    int calls = 0;
    CLogging flaky(m_store, DataDir(), [&]() { return ++calls % 2 ? std::nullopt : NinthOfMarch2008(); });
    flaky.Open();
    EXPECT_EQ(ReadLog(5).substr(0, 33), "0Year-3Month--1Hour-9Day--1Min-5S");
    EXPECT_EQ(calls, 6);
}

TEST_F(Logging, AnOpenLogIsLockedBeforeAnotherRunCouldEmptyItAndAFailedOpenIsSilent) {
    auto first = MakeLog();
    first->Write("too early", true);  // before Open: nothing
    first->Open();
    first->Write("first run", true);
    m_store.Write(Setting::kLogCount, 0);  // as if a second copy got the same number
    auto second = MakeLog();
    EXPECT_TRUE(second->Open() && !second->IsOpen());
    second->Write("second run", true);
    EXPECT_EQ(Body(ReadLog(0)), "first run\r\n");
    first.reset();
    m_store.Write(Setting::kLogCount, 0);
    EXPECT_TRUE(MakeLog()->Open());
    EXPECT_EQ(Body(ReadLog(0)), "");

    std::filesystem::remove_all(DataDir());
    auto nowhere = MakeLog();
    EXPECT_TRUE(nowhere->Open() && !nowhere->IsOpen());
    nowhere->Write("nowhere", true), nowhere->WriteInt(1, "", true);
    EXPECT_FALSE(std::filesystem::exists(DataDir()));
}

TEST_F(Logging, ALinkOrAnythingButAPlainFileOfItsOwnIsNeitherEmptiedNorWritten) {
    namespace fs = std::filesystem;
    const fs::path victim = m_home.path() / "victim", file = DataDir() / "MivexLog0.txt";
    const struct {
        std::function<void()> make;
        const char* why;
    } traps[] = {
        {[&] { fs::create_symlink(victim, file); }, "a symbolic link"},
        {[&] { fs::create_hard_link(victim, file); }, "has other names (hard links)"},
        {[&] { ::mkfifo(file.c_str(), 0666); }, "not a regular file"},
        {[&] { fs::create_directory(file); }, "Is a directory"},
    };
    for (const auto& trap : traps) {
        test::WriteFile(victim, "the user's own");
        trap.make();
        m_store.Write(Setting::kLogCount, 0);
        auto log = MakeLog();
        EXPECT_TRUE(log->Open() && !log->IsOpen()) << trap.why;
        EXPECT_EQ(log->OpenError(), file.string() + ": " + trap.why);
        log->Write("logged", true);
        EXPECT_EQ(test::ReadFile(victim), "the user's own");
        fs::remove_all(file);
    }

    // A data folder others may write to is passed over, like one that cannot be written.
    test::ScopedEnv state("XDG_STATE_HOME", (m_home.path() / "state").string());
    const fs::path stateFolder = m_home.path() / "state" / "KordO" / "Mivex";
    for (const auto& [mode, chosen] :
         {std::pair{fs::perms(0755), DataDir()}, {fs::perms(0775), stateFolder}, {fs::perms(01777), stateFolder}}) {
        fs::permissions(DataDir(), mode);
        EXPECT_EQ(LogDirectory(DataDir()), chosen) << std::oct << static_cast<int>(mode);
    }
    fs::permissions(DataDir(), fs::perms(0755));
    fs::create_directory_symlink(DataDir(), m_home.path() / "link");
    EXPECT_EQ(LogDirectory(m_home.path() / "link"), m_home.path() / "link") << "a link to a folder of one's own";
}

TEST_F(Logging, ConcurrentWritesAreAppendedWholeAndInEachWritersOrder) {
    auto log = MakeLog();
    log->Open();
    constexpr int kThreads = 4, kLines = 400;
    std::vector<std::thread> writers;
    std::vector<std::string> expected(kThreads), written(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        const std::string writer = " of writer " + std::to_string(t);
        for (int i = 0; i < kLines; ++i)
            expected[t] += std::to_string(i) + " text" + writer + "\r\n" + std::to_string(i) + writer + "\r\n";
        writers.emplace_back([&log, writer] {
            for (int i = 0; i < kLines; ++i)
                log->Write(std::to_string(i) + " text" + writer, true), log->WriteInt(i, writer, true);
        });
    }
    for (auto& writer : writers) writer.join();
    // A torn write leaves a line that belongs to no writer's sequence.
    std::istringstream body(Body(ReadLog(0)));
    for (std::string line; std::getline(body, line);) {
        const auto at = line.rfind(" of writer ");
        const int t = at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 11);
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        written[t] += line + "\n";
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(written[t], expected[t]) << "writer " << t;
}

TEST(SystemVersion, ReportsTheSystemThenWhatIsKnownOfTheProgram) {
    const OsRecord debian{"Linux", "6.1.0-18-amd64", "x86_64", "Debian GNU/Linux 12 (bookworm)"};
    const std::string os = "Linux: V 6.1.0-18-amd64, machine: x86_64, Debian GNU/Linux 12 (bookworm)\r\n\r\n";
    // clang-format off
    const struct { std::optional<OsRecord> os; VersionRecord version; std::string system, fileVersion; } cases[] = {
        {debian, {"Mivex", "Copyright (C) 2026 KordO", "1.2.3", "1.2.3.4"},
         os + "Mivex\r\n\r\nCopyright (C) 2026 KordO\r\nProgram version: 1.2.3\r\n1.2.3.4\r\n", "1.2.3"},
        {debian, {}, os, ""},
        // Missing entries are skipped with their line ends; the label stays.
        {debian, {"Mivex", "", "", "9"}, os + "Mivex\r\n\r\nProgram version: 9\r\n", ""},
        {OsRecord{"Linux", "6.1", "aarch64", ""}, {}, "Linux: V 6.1, machine: aarch64\r\n\r\n", ""},
        {std::nullopt, {"Mivex", "c", "1", "1"}, "No system info found", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        const CSystemVersion report(c.os, c.version);
        EXPECT_EQ(std::tie(report.m_strSystem, report.m_strVersion), std::tie(c.system, c.fileVersion));
    }
    const CSystemVersion built;
    EXPECT_EQ(built.m_strVersion, MIVEX_TEST_PROJECT_VERSION);
    EXPECT_NE(built.m_strSystem.find("Program version: " MIVEX_TEST_PROJECT_VERSION "\r\n"), std::string::npos);
    EXPECT_EQ(built.m_strSystem.rfind("Linux: V ", 0), 0u) << built.m_strSystem;

    test::TempDir dir;  // the pretty name wins over the plain one, quotes and escapes removed
    test::WriteFile(dir.path() / "os-release", "NAME=plain\nPRETTY_NAME='Some \\\"Linux\\\"'\n");
    EXPECT_EQ(OsReleaseName(dir.path() / "os-release"), "Some \"Linux\"");
}

}  // namespace

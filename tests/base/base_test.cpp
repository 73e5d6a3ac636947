// The base library: the settings store and its key table, the diagnostic log, the system report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
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
    // Texts sit beside the integers, trimmed; what would not read back the same is refused.
    EXPECT_EQ(m_store.ReadText(Setting::kFlightTarget), "127.0.0.1:4242");
    EXPECT_TRUE(m_store.WriteText(Setting::kFlightTarget, " [::1]:5 "));
    using namespace std::string_literals;
    for (const std::string& refused : {"1.2.3.4:1\nflight=1"s, "1.2.3.4:1\rflight=1"s, "a\0b"s, "caf\xe9"s, "caf\xc3"s,
                                       "\xc0\xaf"s, "\xed\xa0\x80"s, "\xf4\x90\x80\x80"s}) {
        EXPECT_FALSE(m_store.WriteText(Setting::kFlightTarget, refused)) << refused;
        EXPECT_EQ(m_store.WriteError(), CSettingsStore::kUnstorableText);
    }
    // On disk as soon as each write returns, while the store still lives; new sections at the end.
    EXPECT_EQ(test::ReadFile(m_home.SettingsFile()),
              "loose=1\n[settings]\nsliderUdMouse=12.5\nuseMouse=0\nhotkeyMouse=-2147483648\nflightTarget=[::1]:5\n\n"
              "[general]\nlogCount=7\n\n[profile]\nprofile enable=1\nprofileAxis1_18=300\n\n[boot]\nuseMouse=1\n");

    CSettingsStore reopened;
    for (const auto& [key, value] : values) EXPECT_EQ(reopened.Read(key), value) << key.key;
    EXPECT_EQ(reopened.ReadText(Setting::kFlightTarget), "[::1]:5");
    EXPECT_TRUE(reopened.WriteText(Setting::kFlightTarget, "caf\xc3\xa9 \xf0\x9f\x99\x82"));
    EXPECT_EQ(CSettingsStore().ReadText(Setting::kFlightTarget), "caf\xc3\xa9 \xf0\x9f\x99\x82");
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

    // A relative XDG_CONFIG_HOME is no configuration folder by the XDG rules.
    const test::ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    const test::ScopedEnv home("HOME", m_home.path().string());
    EXPECT_EQ(SettingsFilePath(), (m_home.path() / ".config" / "KordO" / "Mivex.ini").string());
}

TEST_F(SettingsStore, AWriteChangesOnlyTheLineOfItsKeyAndAddsANewKeyAtTheEndOfItsSection) {
    // clang-format off
    const struct { const char* before; const char* section; const char* key; const char* after; } cases[] = {
        // Comments, blank lines, unreadable lines and the line ends stay; a key keeps its blanks.
        {"; mine\r\n[settings]\r\n  sliderLrMouse = 3\r\njunk\r\n; about the camera\r\n\r\n[camera]\r\nx=1",
         "settings", "sliderLrMouse",
         "; mine\r\n[settings]\r\n  sliderLrMouse = 7\r\njunk\r\n; about the camera\r\n\r\n[camera]\r\nx=1"},
        {"; mine\r\n[settings]\r\nsliderLrMouse=3\r\njunk\r\n; about the camera\r\n\r\n[camera]\r\nx=1",
         "settings", "sliderUdMouse",
         "; mine\r\n[settings]\r\nsliderLrMouse=3\r\nsliderUdMouse=7\r\njunk\r\n; about the camera\r\n\r\n[camera]\r\nx=1"},
        // Line ends of a lone CR, a last line without one, a header without keys.
        {"[settings]\rsliderLrMouse=3\r", "settings", "sliderUdMouse", "[settings]\rsliderLrMouse=3\rsliderUdMouse=7\r"},
        {"[camera]\nx=1", "camera", "y", "[camera]\nx=1\ny=7\n"},
        {"[camera]\nx=1", "settings", "a", "[camera]\nx=1\n\n[settings]\na=7\n"},
        {"[camera]\n\n", "settings", "a", "[camera]\n\n[settings]\na=7\n"},
        {"[camera]\n; none yet\n", "camera", "a", "[camera]\na=7\n; none yet\n"},
        {"", "settings", "a", "[settings]\na=7\n"},
        // The last of two lines is the one read; a section's last block takes the new key.
        {"[s]\na=1\na=2\n", "s", "a", "[s]\na=1\na=7\n"},
        {"[s]\na=1\n[t]\nb=1\n[s]\nc=1\n[t]\n", "s", "d", "[s]\na=1\n[t]\nb=1\n[s]\nc=1\nd=7\n[t]\n"},
        // Latin-1 in a comment and in a line of its own, a byte order mark.
        {"; caf\xe9\n[settings]\nname=caf\xe9\nsliderLrMouse=3\n", "settings", "sliderLrMouse",
         "; caf\xe9\n[settings]\nname=caf\xe9\nsliderLrMouse=7\n"},
        {"\xef\xbb\xbf[settings]\nsliderLrMouse=3\n", "settings", "sliderLrMouse", "\xef\xbb\xbf[settings]\nsliderLrMouse=7\n"},
        // Keys under a broken header belong to no section: none is changed, the key is added.
        {"[settings]\na=1\n[camera\na=2\n", "settings", "a", "[settings]\na=7\n[camera\na=2\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        test::WriteFile(m_home.SettingsFile(), c.before);
        EXPECT_TRUE(m_store.WriteProfileInt(c.section, c.key, 7)) << c.before;
        EXPECT_EQ(test::ReadFile(m_home.SettingsFile()), c.after) << c.before;
        EXPECT_EQ(CSettingsStore().GetProfileInt(c.section, c.key, 0), 7) << c.before;
    }
    CSettingsStore::TakeUnreadableNotice();
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

TEST_F(SettingsStore, WhatIsInTheWayIsNeitherWaitedForNorReadNorReplacedAndEachFailureIsSaidOnce) {
    namespace fs = std::filesystem;
    std::vector<std::string> said;
    m_store.SetWriteFailureHandler([&](const std::string& why) { said.push_back(why); });
    const fs::path folder = m_home.path() / "KordO", file = m_home.SettingsFile(), lock = file.string() + ".lock";
    const fs::path loop = folder / "loop";
    // What is in the way stops any user, an administrator too. Pipes and devices are never
    // opened so that they could block, nor read.
    const struct {
        fs::path path;
        std::function<void(const fs::path&)> make;
        const char* why;
    } blocked[] = {
        {folder, [](const fs::path& p) { test::WriteFile(p, ""); }, "KordO is not a folder"},
        {file, [](const fs::path& p) { fs::create_directory(p); }, "Mivex.ini: is a folder, not a file"},
        {file, [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }, "Mivex.ini: is not a regular file"},
        {file, [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, "Mivex.ini: is not a regular file"},
        {file, [&](const fs::path& p) { fs::create_symlink(loop, p), fs::create_symlink(p, loop); },
         "Mivex.ini: Too many levels"},
        {file, [](const fs::path& p) { fs::create_symlink("nowhere", p); },
         "Mivex.ini is a link to a file that does not exist"},
        {lock, [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }, "Mivex.ini.lock is not a regular file"},
        {lock, [](const fs::path& p) { fs::create_directory(p); }, "Mivex.ini.lock is a folder"},
        {lock, [](const fs::path& p) { fs::create_symlink("nowhere", p); }, "Mivex.ini.lock is a link"},
        {lock, [&](const fs::path& p) { fs::create_symlink(loop, p), fs::create_symlink(p, loop); },
         "Mivex.ini.lock is a link"},
        {lock, [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, "Mivex.ini.lock is a link"},
    };
    for (const auto& c : blocked) {
        fs::remove_all(folder);
        fs::create_directories(c.path.parent_path());
        c.make(c.path);
        said.clear();
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(m_store.Read(Setting::kSliderLrMouse), Setting::kSliderLrMouse.defaultValue) << c.why;
            EXPECT_FALSE(m_store.Write(Setting::kSliderLrMouse, 12));
            EXPECT_NE(m_store.WriteError().find(c.why), std::string::npos) << m_store.WriteError();
        }
        EXPECT_EQ(said, std::vector<std::string>{m_store.WriteError()}) << "said once";
        EXPECT_TRUE(fs::exists(fs::symlink_status(c.path))) << "left as it is: " << c.why;
        fs::remove(c.path), fs::remove(loop);
        EXPECT_TRUE(m_store.Write(Setting::kSliderLrMouse, 13));
        EXPECT_EQ(m_store.WriteError(), "");
        EXPECT_EQ(CSettingsStore().Read(Setting::kSliderLrMouse), 13);
    }

    // A settings file kept elsewhere and linked here stays there, a link, with its mode.
    const fs::path dotfiles = m_home.path() / "dotfiles" / "Mivex.ini";
    test::WriteFile(dotfiles, "; mine\n[settings]\nsliderLrMouse=3\n");
    fs::permissions(dotfiles, fs::perms(0600));
    fs::remove(file), fs::create_symlink(dotfiles, file);
    EXPECT_EQ(m_store.Read(Setting::kSliderLrMouse), 3);
    EXPECT_TRUE(m_store.Write(Setting::kSliderLrMouse, 4)) << m_store.WriteError();
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(test::ReadFile(dotfiles), "; mine\n[settings]\nsliderLrMouse=4\n");
    EXPECT_EQ(fs::status(dotfiles).permissions(), fs::perms(0600));

    // A writer that holds the lock and does not go on (stopped, say) is waited for a few seconds,
    // then named; one that died left nothing to wait for.
    const int held = ::open(lock.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string pid = std::to_string(::getpid());
    ASSERT_EQ(::write(held, pid.data(), pid.size()), static_cast<ssize_t>(pid.size()));
    said.clear();
    EXPECT_FALSE(m_store.Write(Setting::kSliderLrMouse, 5));
    EXPECT_NE(
        m_store.WriteError().find("cannot lock " + lock.string() + ": process " + pid + " (base_tests) has held it"),
        std::string::npos)
        << m_store.WriteError();
    EXPECT_EQ(said.size(), 1u);
    ::close(held);
    EXPECT_TRUE(m_store.Write(Setting::kSliderLrMouse, 5));
    EXPECT_EQ(test::ReadFile(dotfiles), "; mine\n[settings]\nsliderLrMouse=5\n");
}

TEST_F(SettingsStore, AFileThatCannotBeOpenedIsNeitherCachedNorReplaced) {
    const std::string mine = "; mine\n[settings]\nsliderLrMouse=3\n[camera1]\nfps=25\n";
    test::WriteFile(m_home.SettingsFile(), mine);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // older than the clock's tick
    // No file descriptor left for a moment: the file is there, but reads as defaults meanwhile.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit few = old;
    few.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    std::vector<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) taken.push_back(fd);
    EXPECT_EQ(m_store.Read(Setting::kSliderLrMouse), Setting::kSliderLrMouse.defaultValue);
    EXPECT_FALSE(m_store.Write(Setting::kUseMouse, 1));
    EXPECT_NE(m_store.WriteError().find("Too many open files"), std::string::npos) << m_store.WriteError();
    for (const int fd : taken) ::close(fd);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);

    EXPECT_EQ(m_store.Read(Setting::kSliderLrMouse), 3) << "what could not be read was not kept";
    EXPECT_EQ(test::ReadFile(m_home.SettingsFile()), mine);
    EXPECT_TRUE(m_store.Write(Setting::kUseMouse, 1));
    EXPECT_EQ(test::ReadFile(m_home.SettingsFile()),
              "; mine\n[settings]\nsliderLrMouse=3\nuseMouse=1\n[camera1]\nfps=25\n");
}

TEST_F(SettingsStore, AFullDiskLeavesTheOldFileWholeAndSaysSo) {
    namespace fs = std::filesystem;
    const std::string mine = "[settings]\nsliderLrMouse=3\nflightTarget=" + std::string(200, 'a') + "\n";
    test::WriteFile(m_home.SettingsFile(), mine);
    {
        // The kernel refuses every byte past the limit, as a full disk would.
        rlimit old{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 100;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = m_store.Write(Setting::kSliderLrMouse, 4);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(written);
    }
    EXPECT_EQ(m_store.WriteError(),
              m_home.SettingsFile().string() + ": cannot be written (File too large); the file is left as it was");
    EXPECT_EQ(test::ReadFile(m_home.SettingsFile()), mine);
    for (const auto& entry : fs::directory_iterator(m_home.SettingsFile().parent_path()))
        EXPECT_TRUE(entry.path().filename() == "Mivex.ini" || entry.path().filename() == "Mivex.ini.lock")
            << entry.path();
    EXPECT_EQ(CSettingsStore().Read(Setting::kSliderLrMouse), 3);

    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0) << "/dev/full is missing";
    EXPECT_EQ(WriteFileContents(full, "[settings]\n"), "disk full");
    ::close(full);
}

TEST_F(SettingsStore, AnUnreadableFileIsCopiedAsideWholeBeforeTheFirstWriteAndSaidOnce) {
    auto copies = [&] {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(m_home.SettingsFile().parent_path()))
            if (entry.path().filename().string().starts_with("Mivex.ini.unreadable-")) found.push_back(entry.path());
        return found;
    };
    using namespace std::string_literals;
    // No text at all reads as defaults; of text, what can be read is read.
    const std::pair<std::string, int> hostile[] = {
        {"\x7f"
         "ELF\x02\x01\x01\0\0\0\0\x03\0>\0[settings]\nsliderLrMouse=3\n"s,
         Setting::kSliderLrMouse.defaultValue},
        {"\xff\xfe[\0s\0e\0t\0]\0\n\0a\0=\0"
         "1\0\n\0"s,
         Setting::kSliderLrMouse.defaultValue},
        {"[settings\nsliderLrMouse=3\n", Setting::kSliderLrMouse.defaultValue},
        {"[settings]\nsliderLrMouse=3\n\xc3\x28=1\n", 3},
        {"[settings]\njunk\nsliderLrMouse=3\n", 3},
    };
    for (const auto& [bytes, read] : hostile) {
        test::WriteFile(m_home.SettingsFile(), bytes);
        const std::size_t before = copies().size();
        EXPECT_EQ(m_store.Read(Setting::kSliderLrMouse), read);
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
        // The lock file of the killed writer stays, empty if it was killed as it made it: its
        // lock went with it.
        std::filesystem::remove(m_home.SettingsFile());
        if (round == 0) test::WriteFile(m_home.SettingsFile().string() + ".lock", "");
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

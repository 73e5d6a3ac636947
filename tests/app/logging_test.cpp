#include "logging.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "system_version.h"
#include "test_support.h"

namespace {

std::optional<std::tm> NinthOfMarch2008() {
    std::tm t{};
    t.tm_year = 2008 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 9;
    t.tm_hour = 14;
    t.tm_min = 27;
    t.tm_sec = 5;
    return t;
}

class LoggingTest : public ::testing::Test {
protected:
    LoggingTest() { std::filesystem::create_directory(DataDir()); }

    std::filesystem::path DataDir() const { return m_home.path() / "data"; }
    std::unique_ptr<CLogging> MakeLog() {
        return std::make_unique<CLogging>(m_store, DataDir(), NinthOfMarch2008);
    }
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

TEST_F(LoggingTest, RunsRotateThroughElevenFiles) {
    m_store.Write(Setting::kLogCount, 9);
    for (int expected : {9, 10, 0, 1}) {
        auto log = MakeLog();
        EXPECT_EQ(log->LogCount(), expected);
        EXPECT_EQ(m_store.Read(Setting::kLogCount), expected + 1);
        log->Open();
        log->Write("run " + std::to_string(expected), true);
    }
    EXPECT_EQ(Body(ReadLog(10)), "run 10\r\n");
    EXPECT_EQ(Body(ReadLog(0)), "run 0\r\n");

    // A file of an earlier cycle is emptied, not appended to.
    m_store.Write(Setting::kLogCount, 10);
    MakeLog()->Open();
    EXPECT_EQ(Body(ReadLog(10)), "");

    // Numbers outside the rotation start it again.
    for (int stored : {11, 500, -3}) {
        m_store.Write(Setting::kLogCount, stored);
        EXPECT_EQ(MakeLog()->LogCount(), 0) << stored;
        EXPECT_EQ(m_store.Read(Setting::kLogCount), 1);
    }
}

TEST_F(LoggingTest, LongTextsAreCutAndLoseTheirLineEnd) {
    auto log = MakeLog();
    log->Open();
    log->Write(std::string(400, 'a'), true);
    log->Write("next", true);
    log->Write(std::string(298, 'b'), true);  // exactly 300 with its line end
    log->Write(std::string(299, 'c'), true);  // the line end's second byte is lost
    log->WriteInt(-5, "", true);
    log->WriteInt(12345, "Year-", false);
    log->WriteInt(7, std::string(60, 's'), true);
    EXPECT_EQ(Body(ReadLog(0)), std::string(300, 'a') + "next\r\n" + std::string(298, 'b') + "\r\n" +
                                    std::string(299, 'c') + "\r" + "-5\r\n12345Year-" + "7" +
                                    std::string(49, 's'));
}

TEST_F(LoggingTest, ACutNeverSplitsACharacter) {
    auto log = MakeLog();
    log->Open();
    log->Write(std::string(299, 'a') + "\xC3\xA9", false);  // "é" would straddle the limit
    EXPECT_EQ(Body(ReadLog(0)), std::string(299, 'a'));
}

TEST_F(LoggingTest, StartRecordNamesTheTimeAndTheSystem) {
    auto log = MakeLog();
    EXPECT_TRUE(log->Open());
    EXPECT_TRUE(log->IsOpen());
    EXPECT_EQ(ReadLog(0), StartRecord());

    // Each field falls back on its own when the clock cannot be read.
    m_store.Write(Setting::kLogCount, 5);
    int calls = 0;
    CLogging flaky(m_store, DataDir(), [&]() -> std::optional<std::tm> {
        return ++calls % 2 ? std::nullopt : NinthOfMarch2008();
    });
    flaky.Open();
    EXPECT_EQ(ReadLog(5).substr(0, 33), "0Year-3Month--1Hour-9Day--1Min-5S");
    EXPECT_EQ(calls, 6);
}

TEST_F(LoggingTest, AFailedOpenIsSilentAndDisablesWriting) {
    std::filesystem::remove(DataDir());
    auto log = MakeLog();
    EXPECT_TRUE(log->Open());
    EXPECT_FALSE(log->IsOpen());
    log->Write("nowhere", true);
    log->WriteInt(1, "", true);
    EXPECT_FALSE(std::filesystem::exists(DataDir()));

    // Writing before Open does nothing either.
    std::filesystem::create_directory(DataDir());
    auto early = MakeLog();
    early->Write("too early", true);
    early->Open();
    EXPECT_EQ(Body(ReadLog(early->LogCount())), "");
}

TEST_F(LoggingTest, AnOpenLogCannotBeOpenedAgain) {
    auto first = MakeLog();
    first->Open();
    first->Write("first run", true);

    m_store.Write(Setting::kLogCount, 0);  // as if a second copy got the same number
    auto second = MakeLog();
    second->Open();
    EXPECT_FALSE(second->IsOpen());
    second->Write("second run", true);
    EXPECT_EQ(Body(ReadLog(0)), "first run\r\n");  // neither emptied nor written

    first.reset();
    m_store.Write(Setting::kLogCount, 0);
    auto third = MakeLog();
    third->Open();
    EXPECT_TRUE(third->IsOpen());
}

TEST_F(LoggingTest, ConcurrentWritersProduceWholeLines) {
    auto log = MakeLog();
    log->Open();
    constexpr int kThreads = 4;
    constexpr int kLines = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                log->Write("writer " + std::to_string(t) + " line ", false);
                log->WriteInt(i, "", true);
                log->Write("writer " + std::to_string(t) + " whole line " + std::to_string(i), true);
            }
        });
    for (auto& writer : writers) writer.join();

    // Every write is whole: a line is some labels, then a number or a whole line, never a fragment.
    // (A label and its number are two writes, so another writer may come between them.)
    std::istringstream body(Body(ReadLog(0)));
    std::vector<int> next(kThreads, 0);
    std::string line;
    int wholeLines = 0, labels = 0, numbers = 0;
    while (std::getline(body, line)) {
        ASSERT_TRUE(line.ends_with('\r')) << line;
        line.pop_back();
        std::size_t at = 0;
        int t = 0, i = 0, used = 0;
        while (std::sscanf(line.c_str() + at, "writer %d line %n", &t, &used) == 1 && used > 0) {
            at += used;
            ++labels;
            used = 0;
        }
        const std::string rest = line.substr(at);
        if (std::sscanf(rest.c_str(), "writer %d whole line %d", &t, &i) == 2) {
            ASSERT_EQ(rest, "writer " + std::to_string(t) + " whole line " + std::to_string(i));
            ASSERT_EQ(i, next[t]++) << "one writer's lines keep their order";
            ++wholeLines;
        } else {
            ASSERT_EQ(rest, std::to_string(std::atoi(rest.c_str()))) << line;
            ++numbers;
        }
    }
    EXPECT_EQ(labels, kThreads * kLines);
    EXPECT_EQ(numbers, kThreads * kLines);
    EXPECT_EQ(wholeLines, kThreads * kLines);
}

}  // namespace

// The update check against a local HTTP server, through the update window as the user meets it,
// the command line's server choice and the start-up reminder.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QtTest>

#include "local_http_server.h"
#include "settings_store.h"
#include "test_support.h"
#include "update_dialog.h"
#include "update_reminder.h"
#include "version_info.h"

namespace {

using namespace std::chrono_literals;
using Reply = test::LocalHttpServer::Reply;

constexpr auto kDeadline = 10s;
constexpr UpdateTimeouts kShort{2s, 50ms, 1, 300ms};
const char* const kNoConnection = "Can't make an internet connection";

UpdateServer Server(const std::string& authority) { return *ParseUpdateServer(authority); }

// The window of a program at version "3.00 A", its log, and what "Update" would open.
struct Window {
    explicit Window(const std::string& authority, UpdateTimeouts timeouts = kShort)
        : dialog(
              Server(authority), "3.00 A", [this](const std::string& line) { Record(line); }, timeouts) {
        dialog.SetUrlOpener([this](const QUrl& url) { return opened.push_back(url.toString()), true; });
        dialog.SetCloseProgram([this] { ++closed; });
    }
    void Record(const std::string& line) {
        std::lock_guard lock(mutex);
        log.push_back(line);
    }
    // Presses "Check" and waits for the result.
    bool Check() {
        QSignalSpy finished(&dialog, &CMivexDlgUpdate::checkFinished);
        dialog.CheckButton()->click();
        return finished.wait(std::chrono::milliseconds(kDeadline).count()) && !dialog.IsChecking();
    }

    std::mutex mutex;
    std::vector<std::string> log;
    std::vector<QString> opened;
    int closed = 0;
    CMivexDlgUpdate dialog;
};

struct Answer {
    const char* name;
    Reply reply;
    const char* shown;     // the first line; the connection failure unless it names a version
    const char* download;  // the address "Update" opens after the authority, or "" when disabled
};
void PrintTo(const Answer& answer, std::ostream* out) { *out << answer.name; }

const std::string kPadding(1999 - std::string_view("3:M!:s.exe").size(), '0');
// clang-format off
const Answer kAnswers[] = {
    {"NewVersion", {200, "3.10 A:M!:setup310.exe"}, "New version of Mivex! found: 3.10 A", "/download/setup310.exe"},
    {"SameVersionMoreText", {200, "3.00 A:M!:setup300.exe and more\r\n:M!:x.exe"}, "Latest version of Mivex!: 3.00 A", "/download/setup300.exe"},
    {"VersionsDifferInCase", {200, "3.00 a:M!:setup300.exe"}, "New version of Mivex! found: 3.00 a", "/download/setup300.exe"},
    {"EndsAtTheLastByteRead", {200, kPadding + "3:M!:s.exe"}, "New version of Mivex! found: *", "/download/s.exe"},
    {"EndsOneBytePastIt", {200, kPadding + "3:M!:s1.exe"}, kNoConnection, ""},
    {"FiveThousandBytes", {200, std::string(3000, ' ') + "3:M!:s.exe" + std::string(1990, ' ')}, kNoConnection, ""},
    {"NotFound", {404, "3.10 A:M!:setup310.exe"}, kNoConnection, ""},
    {"EmptyBody", {200, ""}, kNoConnection, ""},
    {"NoMarker", {200, "3.10 A setup310.exe"}, kNoConnection, ""},
    {"NoInstaller", {200, "3.10 A:M!:setup310.zip"}, kNoConnection, ""},
    {"NameWithSlash", {200, "3.10 A:M!:evil/setup.exe"}, kNoConnection, ""},
    {"NameWithDotDot", {200, "3.10 A:M!:..setup.exe"}, kNoConnection, ""},
    {"NameWithPercent", {200, "3.10 A:M!:%2fsetup.exe"}, kNoConnection, ""},
    {"NoVersion", {200, ":M!:setup310.exe"}, kNoConnection, ""},
    {"NeverAnswers", {200, "", true}, kNoConnection, ""},
};
// clang-format on

class Answers : public testing::TestWithParam<Answer> {};

TEST_P(Answers, ShowTheirVersionOrTheConnectionFailureAndEnableUpdateOnlyForAnInstaller) {
    const Answer& c = GetParam();
    test::LocalHttpServer server(c.reply);
    Window window(server.Authority());
    ASSERT_TRUE(window.Check());
    const QStringList lines = window.dialog.Text().split('\n');
    const QString shown = QString::fromLatin1(c.shown);
    EXPECT_TRUE(shown.endsWith('*') ? lines[0].startsWith(shown.chopped(1)) : lines[0] == shown)
        << lines[0].toStdString();
    EXPECT_EQ(window.dialog.UpdateButton()->isEnabled(), *c.download != '\0');
    EXPECT_TRUE(window.dialog.CheckButton()->isEnabled());
    EXPECT_EQ(window.log.back(), lines[1].toStdString()) << "the lines shown are logged";
    window.dialog.UpdateButton()->click();
    if (*c.download == '\0') {
        EXPECT_TRUE(window.opened.empty());
        return;
    }
    EXPECT_EQ(window.opened, std::vector<QString>{"http://" + QString::fromStdString(server.Authority()) + c.download});
    EXPECT_EQ(window.closed, 1) << "Update ends the program";
}

INSTANTIATE_TEST_SUITE_P(Update, Answers, testing::ValuesIn(kAnswers),
                         [](const auto& info) { return info.param.name; });

TEST(UpdateCheck, SendsOnePlainGetAndLogsTheQuestionTheAnswerAndTheTextShown) {
    test::LocalHttpServer server({200, "3.10 A:M!:setup310.exe"});
    Window window(server.Authority());
    ASSERT_TRUE(window.Check());
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string request = server.Requests()[0];
    EXPECT_TRUE(request.starts_with("GET /download/update_info.html HTTP/1.1\r\n")) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Mivex!\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nAccept: text/html, text/htm\r\n"), std::string::npos) << request;
    EXPECT_EQ(request.find("GetWebFile"), std::string::npos) << "the agent's User-Agent is there already";
    EXPECT_EQ(window.log,
              (std::vector<std::string>{"Check for update: " + server.Authority() + " file:download/update_info.html",
                                        "Update file 3.10 A:M!:setup310.exe", "New version of Mivex! found: 3.10 A",
                                        "Click on Update to download this version"}));
}

TEST(UpdateCheck, ARefusedConnectionIsLoggedWithItsReason) {
    Window window("127.0.0.1:" + std::to_string(test::LocalHttpServer::RefusingPort()));
    ASSERT_TRUE(window.Check());
    EXPECT_TRUE(window.dialog.Text().startsWith(kNoConnection));
    EXPECT_FALSE(window.dialog.UpdateButton()->isEnabled());
    ASSERT_EQ(window.log.size(), 4u);
    EXPECT_NE(window.log[1].find("onnect"), std::string::npos) << window.log[1];
    EXPECT_EQ(window.log[2], kNoConnection);
}

TEST(UpdateWindow, StaysResponsiveWhileACheckRunsAndHidingItCancelsTheCheckAtOnce) {
    test::LocalHttpServer server({200, "", true});
    Window window(server.Authority(), UpdateTimeouts{});  // the product's minute of patience
    const QString welcome = window.dialog.Text();
    window.dialog.ShowWindow();
    window.dialog.CheckButton()->click();
    EXPECT_FALSE(window.dialog.CheckButton()->isEnabled());
    EXPECT_EQ(window.dialog.Text(), QString::fromStdString(RunningLine(Server(server.Authority()))));
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticked && !server.Requests().empty(); }, 5000));
    EXPECT_TRUE(window.dialog.IsChecking());

    const auto hidden = std::chrono::steady_clock::now();
    window.dialog.OkButton()->click();
    EXPECT_LT(std::chrono::steady_clock::now() - hidden, kDeadline) << "hiding waited for the check";
    EXPECT_FALSE(window.dialog.IsChecking());
    EXPECT_EQ(window.dialog.Text(), welcome);
    EXPECT_TRUE(window.dialog.CheckButton()->isEnabled());
    EXPECT_FALSE(window.dialog.UpdateButton()->isEnabled());
}

TEST(UpdateServerChoice, TakesHostOrHostAndPortFromTheEnvironmentElseTheMakersServer) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"127.0.0.1:8080", "127.0.0.1:8080"}, {"updates.example.net", "updates.example.net"},
        {"host:80", "host"}, {"host:0", nullptr}, {"host:65536", nullptr}, {"host:", nullptr},
        {"a/b", nullptr}, {"two words", nullptr}, {"host:8x", nullptr}};
    // clang-format on
    for (const auto& [value, authority] : cases) {
        test::ScopedEnv env(kUpdateHostVariable, value);
        std::string problem;
        const UpdateServer server = UpdateServerFromEnvironment(problem);
        const std::string maker = QUrl(MIVEX_MAKER_SITE).host().toStdString();
        EXPECT_EQ(server.Authority(), authority ? authority : maker) << value;
        EXPECT_EQ(problem.empty(), authority != nullptr) << value;
    }
}

TEST(UpdateReminder, ShowsAtTheFirstStartAndEvery101stAndWaitsForAStartThatCanShowIt) {
    // clang-format off
    struct Case { std::optional<int> stored; bool canShow; int count; bool show; };
    const Case cases[] = {{std::nullopt, true, 0, true}, {99, true, 100, false}, {100, true, 0, true},
                          {0, true, 1, false}, {100, false, 101, false}, {2147483647, true, 0, true}};
    // clang-format on
    for (const Case& c : cases) {
        test::TempConfigHome home;
        CSettingsStore store;
        if (c.stored) store.Write(Setting::kUpdateCount, *c.stored);
        const UpdateReminder reminder = AdvanceUpdateReminder(store, c.canShow);
        EXPECT_EQ(reminder.count, c.count) << c.stored.value_or(-1);
        EXPECT_EQ(reminder.show, c.show) << c.stored.value_or(-1);
        EXPECT_EQ(store.Read(Setting::kUpdateCount), c.count);
    }
}

}  // namespace

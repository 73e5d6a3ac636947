// The update check against a local HTTP server, through the update window as the user meets it,
// and the start-up reminder.
#include <functional>

#include <gtest/gtest.h>

#include <QPushButton>
#include <QtTest>

#include "base/settings_store.h"
#include "tests/support/local_http_server.h"
#include "tests/support/test_support.h"
#include "update/update_dialog.h"
#include "update/update_reminder.h"

namespace {

using namespace std::chrono_literals;
const char* const kNoConnection = "Can't make an internet connection";

UpdateServer Server(const std::string& authority) {
    std::string error;
    return ParseUpdateServer(authority, error).value();
}
bool Printable(const std::string& line) {
    return std::ranges::none_of(line, [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

// The window of a program at version "3.00 A", what it logged, and what "Update" did.
struct Window {
    explicit Window(const std::string& authority, UpdateTimeouts waits = {2s, 50ms, 1, 300ms})
        : dialog(Server(authority), "3.00 A", std::bind_front(&Window::Log, this), waits) {
        dialog.SetUrlOpener([this](const QUrl& url) { return opened.push_back(url.toString()), true; });
        dialog.SetCloseProgram([this] { ++closed; });
    }
    void Log(const std::string& line) { log.push_back(line); }

    std::vector<std::string> log;  // written on the worker, read once the check is over and joined
    std::vector<QString> opened;
    int closed = 0;
    CMivexDlgUpdate dialog;
};

struct Answer {
    const char* name;
    test::LocalHttpServer::Reply reply;
    const char* shown;     // the first line
    const char* download;  // what "Update" opens after the server, or "" when it stays disabled
    const char* why = "";  // what the second line says of a failure
};
void PrintTo(const Answer& answer, std::ostream* out) { *out << answer.name; }

const std::string kPadding(1999 - std::string_view("3:M!:s.exe").size(), '0');
const std::string kPaddedVersion = "New version of Mivex! found: " + kPadding + "3";
// clang-format off
const Answer kAnswers[] = {
    {"NewVersion", {200, "3.10 A:M!:setup310.exe"}, "New version of Mivex! found: 3.10 A", "/download/setup310.exe"},
    {"SameVersionMoreText", {200, "3.00 A:M!:setup300.exe and more\r\n:M!:x.exe"}, "Latest version of Mivex!: 3.00 A", "/download/setup300.exe"},
    {"VersionsDifferInCase", {200, "3.00 a:M!:setup300.exe"}, "New version of Mivex! found: 3.00 a", "/download/setup300.exe"},
    {"EndsAtTheLastByteRead", {200, kPadding + "3:M!:s.exe"}, kPaddedVersion.c_str(), "/download/s.exe"},
    {"EndsOneBytePastIt", {200, kPadding + "3:M!:s1.exe"}, kNoConnection, "", "The answer has no \".exe\" after \":M!:\". Please"},
    {"FiveThousandBytes", {200, std::string(3000, ' ') + "3:M!:s.exe" + std::string(1990, ' ')}, kNoConnection, "", "The answer has no \":M!:\""},
    {"NotFound", {404, "3.10 A:M!:setup310.exe"}, kNoConnection, "", "The server answered with HTTP status 404"},
    {"Moved", {301, "3.10 A:M!:setup310.exe"}, kNoConnection, "", "The server answered with HTTP status 301"},
    {"EmptyBody", {200, ""}, kNoConnection, "", "The server's answer is empty"},
    {"NoMarker", {200, "3.10 A setup310.exe"}, kNoConnection, "", "The answer has no \":M!:\""},
    {"NoInstaller", {200, "3.10 A:M!:setup310.zip"}, kNoConnection, "", "The answer has no \".exe\""},
    {"NameWithSlash", {200, "3.10 A:M!:evil/setup.exe"}, kNoConnection, "", "\"evil/setup.exe\" is not a plain file name"},
    {"NameWithDotDot", {200, "3.10 A:M!:..setup.exe"}, kNoConnection, "", "\"..setup.exe\" is not a plain file name"},
    {"NoVersion", {200, ":M!:setup310.exe"}, kNoConnection, "", "The version text is empty"},
    // Escape sequences and line breaks reach neither the terminal nor the log as such.
    {"ControlCharacters", {200, "3\x1b[2J\r\nCheck for update: x:M!:\x1b]0;s.exe"}, kNoConnection, "", "The version text is empty or not plain printable text"},
    {"NeverAnswers", {200, "", true}, kNoConnection, "", "Operation timed out"},
    // The reason counts every attempt, not only the last one.
    {"ConnectionRefused", {200, ""}, kNoConnection, "", "(2 attempts, "},
};
// clang-format on

class Answers : public testing::TestWithParam<Answer> {};

TEST_P(Answers, ShowTheirVersionOrTheConnectionFailureAndEnableUpdateOnlyForAPlainInstallerName) {
    const Answer& c = GetParam();
    std::optional<test::LocalHttpServer> server(c.reply);
    const std::string authority = server->Authority();
    if (std::string_view(c.name) == "ConnectionRefused") server.reset();
    Window window(authority);
    QSignalSpy finished(&window.dialog, &CMivexDlgUpdate::checkFinished);
    window.dialog.CheckButton()->click();
    ASSERT_TRUE(finished.wait(10'000));

    const QStringList lines = window.dialog.Text().split('\n');
    EXPECT_EQ(lines[0].toStdString(), c.shown);
    EXPECT_EQ(window.log.front(), "Check for update: " + authority + " file:download/update_info.html");
    EXPECT_EQ(window.log.back(), lines[1].toStdString()) << "the lines shown are logged";
    EXPECT_TRUE(lines[1].contains(c.why)) << lines[1].toStdString();
    EXPECT_TRUE(std::ranges::all_of(window.log, Printable)) << testing::PrintToString(window.log);
    const bool update = *c.download != '\0';
    EXPECT_EQ(std::pair(window.dialog.CheckButton()->isEnabled(), window.dialog.UpdateButton()->isEnabled()),
              std::pair(true, update));
    window.dialog.UpdateButton()->click();
    EXPECT_EQ(window.opened, update ? std::vector{QString::fromStdString("http://" + authority + c.download)}
                                    : std::vector<QString>{});
    EXPECT_EQ(window.closed, update ? 1 : 0) << "Update ends the program";
    // One plain GET; the agent's User-Agent is there, so the second one is not added.
    const std::string request = "GET /download/update_info.html HTTP/1.1\r\nHost: " + authority +
                                "\r\nUser-Agent: Mivex!\r\nAccept: text/html, text/htm\r\n\r\n";
    EXPECT_EQ(server ? server->Requests() : std::vector{request}, std::vector{request});
}

INSTANTIATE_TEST_SUITE_P(Update, Answers, testing::ValuesIn(kAnswers),
                         [](const auto& info) { return info.param.name; });

TEST(UpdateWindow, StaysResponsiveWhileACheckRunsAndHidingItCancelsTheCheckAtOnce) {
    test::LocalHttpServer server({200, "", true});
    Window window(server.Authority(), UpdateTimeouts{});  // the product's minute of patience
    const QString welcome = window.dialog.Text();
    window.dialog.CheckButton()->click();
    EXPECT_FALSE(window.dialog.CheckButton()->isEnabled());
    EXPECT_TRUE(window.dialog.Text().startsWith("Checking " + QString::fromStdString(server.Authority())));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !server.Requests().empty(); }, 5000) && window.dialog.IsChecking());

    const auto hidden = std::chrono::steady_clock::now();
    window.dialog.OkButton()->click();
    EXPECT_LT(std::chrono::steady_clock::now() - hidden, 10s) << "hiding waited for the check to time out";
    EXPECT_TRUE(!window.dialog.IsChecking() && window.dialog.CheckButton()->isEnabled());
    EXPECT_EQ(window.dialog.Text(), welcome);
}

TEST(UpdateServer, TakesHostPortAndBracketedIPv6AndRefusesTheRestSoThatNoTypoAsksTheMaker) {
    // The value, and the server it names ("" when refused).
    // clang-format off
    for (const auto& [value, authority] : std::initializer_list<std::pair<std::string, std::string>>{
             {"example.org", "example.org"}, {"example.org:80", "example.org"}, {"10.0.0.1:8080", "10.0.0.1:8080"},
             {"[::1]:18080", "[::1]:18080"}, {"[::1]", "[::1]"}, {"example.org ", ""}, {"example.org:0", ""},
             {"http://example.org", ""}, {"::1", ""}, {"[::1", ""}, {"[::1]x", ""}, {"[example.org]:80", ""}}) {
        // clang-format on
        std::string error;
        const std::optional<UpdateServer> server = ParseUpdateServer(value, error);
        EXPECT_EQ(server ? server->Authority() : "", authority) << value;
        EXPECT_EQ(error.empty(), server.has_value()) << value << ": " << error;
    }
    EXPECT_EQ(Server("[::1]:18080").DownloadUrl("s.exe"), "http://[::1]:18080/download/s.exe");
    test::ScopedEnv variable(kUpdateHostVariable, "[::1]:0");
    std::string problem;
    EXPECT_FALSE(UpdateServerFromEnvironment(problem));
    EXPECT_EQ(problem,
              "MIVEX_UPDATE_HOST=\"[::1]:0\" is not HOST, HOST:PORT, [IPv6] or [IPv6]:PORT (the port must be a "
              "number from 1 to 65535); nothing is asked");

    // Without a server the window asks nobody, and says so.
    CMivexDlgUpdate window(std::nullopt, "3.00 A");
    QSignalSpy finished(&window, &CMivexDlgUpdate::checkFinished);
    window.CheckButton()->click();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(window.Text().toStdString(), ReportNoServer().lines[0] + "\n" + ReportNoServer().lines[1]);
    EXPECT_FALSE(window.UpdateButton()->isEnabled());
}

TEST(UpdateReminder, ShowsAtTheFirstStartAndEvery101stAndWaitsForAStartThatCanShowIt) {
    // The count stored before (none: a first start), whether the start can show the window, the
    // count stored after; the window shows when that is 0.
    for (const auto& [before, canShow, after] : {std::tuple{std::optional<int>(), true, 0},
                                                 {99, true, 100},
                                                 {100, true, 0},
                                                 {100, false, 101},
                                                 {2147483647, true, 0}}) {
        test::TempConfigHome home;
        CSettingsStore store;
        if (before) store.Write(Setting::kUpdateCount, *before);
        const UpdateReminder reminder = AdvanceUpdateReminder(store, canShow);
        EXPECT_EQ(std::pair(reminder.count, reminder.show), std::pair(after, after == 0)) << before.value_or(-1);
        EXPECT_EQ(store.Read(Setting::kUpdateCount), after);
    }
}

}  // namespace

// Texts for the user: logged, then shown in a message box on the user-interface thread (also when
// a worker thread reports them), or written to standard error without dialogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <thread>

#include "logging.h"
#include "test_support.h"
#include "user_messages.h"

namespace {

// Answers every message box that opens: records its text and presses its button.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                m_texts.push_back(box->text().toStdString());
                box->accept();
            }
        });
        m_timer.start(10);
    }
    // Runs the event loop until a box was answered or five seconds have passed.
    std::vector<std::string> WaitForBoxes() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_texts.empty() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return m_texts;
    }

private:
    QTimer m_timer;
    std::vector<std::string> m_texts;
};

class UserMessagesTest : public ::testing::Test {
protected:
    test::TempConfigHome m_config;
    test::TempDir m_data;
    CSettingsStore m_store;
    CLogging m_log{m_store, m_data.path()};
};

TEST_F(UserMessagesTest, AWorkerThreadsTextIsLoggedAndShownOnTheUserInterfaceThread) {
    m_log.Open();
    CUserMessages messages(CUserMessages::Mode::Dialogs);
    messages.SetLog(&m_log);
    MessageBoxWatcher watcher;

    // Show must return at once on a worker thread: the box waits for the user elsewhere.
    std::thread worker([&] { messages.Show("ERROR: file: [cascade_ff_d.xml] not found"); });
    worker.join();

    EXPECT_EQ(watcher.WaitForBoxes(), std::vector<std::string>{"ERROR: file: [cascade_ff_d.xml] not found"});
    EXPECT_NE(test::ReadFile(m_log.FilePath()).find("ERROR: file: [cascade_ff_d.xml] not found\r\n"),
              std::string::npos);
}

TEST_F(UserMessagesTest, OnTheUserInterfaceThreadTheBoxIsAnsweredBeforeShowReturns) {
    CUserMessages messages(CUserMessages::Mode::Dialogs);
    MessageBoxWatcher watcher;
    messages.Display("ERROR: Mivex! program already running");
    EXPECT_EQ(watcher.WaitForBoxes(), std::vector<std::string>{"ERROR: Mivex! program already running"});
}

TEST_F(UserMessagesTest, WithoutDialogsTheTextGoesToStandardErrorAndTheLog) {
    m_log.Open();
    CUserMessages messages(CUserMessages::Mode::StandardError);
    messages.SetLog(&m_log);
    testing::internal::CaptureStderr();
    messages.Show("ERROR: no camera detected, or camera in use");
    messages.Display("shown only");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: no camera detected, or camera in use\nshown only\n");
    const std::string log = test::ReadFile(m_log.FilePath());
    EXPECT_NE(log.find("ERROR: no camera detected, or camera in use\r\n"), std::string::npos);
    EXPECT_EQ(log.find("shown only"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

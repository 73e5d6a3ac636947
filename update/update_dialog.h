// The update window "Find Mivex! Update": a text box, "Check", "Update" and "OK". Made hidden at
// start and kept; shown from the tray menu, and by itself as the update reminder.
//
//   CMivexDlgUpdate update(server, CSystemVersion().m_strVersion, logLine);
//   update.SetCloseProgram([&] { sheet.CloseProgram(); });
//   update.ShowWindow();     // the tray menu's "Update"
//   update.ShowReminder();   // at start: shown without taking the keyboard focus
//
// "Check" asks the server on a worker thread, so the program stays responsive; meanwhile "Check"
// is disabled and the box says that the check runs. Hiding the window cancels a running check.
// "Update" is enabled by the first successful check: it opens the installer's address in the
// web browser and ends the program. Without a server (MIVEX_UPDATE_HOST refused) "Check" asks
// nobody and says so.
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "update/update_check.h"
#include "update/update_report.h"

class QPlainTextEdit;
class QPushButton;

class CMivexDlgUpdate : public QDialog {
    Q_OBJECT
public:
    // Control ids.
    static constexpr int kMessagesId = 1093;
    static constexpr int kCheckId = 4;
    static constexpr int kUpdateId = 3;
    static constexpr int kOkId = 1;

    using UrlOpener = std::function<bool(const QUrl&)>;

    // log receives the check's log lines and the texts shown, on the worker or this thread.
    CMivexDlgUpdate(std::optional<UpdateServer> server, std::string ownVersion, CUpdateCheck::LogLine log = {},
                    UpdateTimeouts timeouts = {}, QWidget* parent = nullptr);
    ~CMivexDlgUpdate() override;

    // How "Update" opens the download; QDesktopServices::openUrl unless replaced.
    void SetUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }
    // How "Update" ends the program after opening the download.
    void SetCloseProgram(std::function<void()> closeProgram) { m_closeProgram = std::move(closeProgram); }

    // Shows, raises and activates the window: the user asked for it.
    void ShowWindow();
    // Shows the window without taking the keyboard focus: the program asked for it.
    void ShowReminder();

    // Ends a running check at once; the text shown before it comes back. Harmless without one.
    void CancelCheck();
    bool IsChecking() const { return m_worker.joinable(); }

    QString Text() const;
    QPushButton* CheckButton() const { return m_check; }
    QPushButton* UpdateButton() const { return m_update; }
    QPushButton* OkButton() const { return m_ok; }

    QString m_strUpdateFile;  // the download address of the last successful check

    void setVisible(bool visible) override;

signals:
    // A check ended (not cancelled); checked: the server answered as it should.
    void checkFinished(bool checked);

private:
    void OnCheck();
    void OnCheckDone(int checkNumber);
    void ShowReport(const UpdateReport& report);
    void OnUpdate();
    void SetLines(const UpdateLines& lines);
    void Log(const std::string& line) const;

    const std::optional<UpdateServer> m_server;
    const std::string m_ownVersion;
    const CUpdateCheck::LogLine m_log;
    const UpdateTimeouts m_timeouts;
    UrlOpener m_urlOpener;
    std::function<void()> m_closeProgram;

    QPlainTextEdit* m_messages = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_ok = nullptr;

    // The running check: made and joined on this thread; the worker only runs Check and then
    // writes m_bChecked, read here after the join.
    std::unique_ptr<CUpdateCheck> m_pCheck;
    std::thread m_worker;
    bool m_bChecked = false;
    int m_iCheckNumber = 0;  // tells a late result of a cancelled check from the current one
    QString m_strBeforeCheck;
};

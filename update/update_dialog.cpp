#include "update/update_dialog.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/app_icon.h"
#include "ui/tooltip_strings.h"

namespace {

constexpr const char* kTitle = "Find Mivex! Update";
constexpr QSize kMinimumSize(440, 170);

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CMivexDlgUpdate::CMivexDlgUpdate(std::optional<UpdateServer> server, std::string ownVersion, CUpdateCheck::LogLine log,
                                 UpdateTimeouts timeouts, QWidget* parent)
    : QDialog(parent),
      m_server(std::move(server)),
      m_ownVersion(std::move(ownVersion)),
      m_log(std::move(log)),
      m_timeouts(timeouts),
      m_urlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(MivexIcon());

    m_messages = new QPlainTextEdit(this);
    m_messages->setReadOnly(true);
    m_messages->setAccessibleName(tr("Update check messages"));
    SetControlId(m_messages, kMessagesId);
    m_check = new QPushButton(QStringLiteral("Check"), this);
    SetControlId(m_check, kCheckId);
    m_update = new QPushButton(QStringLiteral("Update"), this);
    SetControlId(m_update, kUpdateId);
    m_update->setEnabled(false);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(m_ok, kOkId);
    // Enter checks; "Update" ends the program, so it is never the default.
    m_check->setDefault(true);
    m_update->setAutoDefault(false);
    m_ok->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_check);
    buttons->addWidget(m_update);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_messages, 1);
    layout->addLayout(buttons);
    setMinimumSize(kMinimumSize);
    resize(kMinimumSize);

    connect(m_check, &QPushButton::clicked, this, &CMivexDlgUpdate::OnCheck);
    connect(m_update, &QPushButton::clicked, this, &CMivexDlgUpdate::OnUpdate);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::hide);

    SetLines(WelcomeLines(m_server));
}

CMivexDlgUpdate::~CMivexDlgUpdate() { CancelCheck(); }

void CMivexDlgUpdate::ShowWindow() {
    show();
    raise();
    activateWindow();
}

void CMivexDlgUpdate::ShowReminder() {
    if (isVisible()) return;
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void CMivexDlgUpdate::setVisible(bool visible) {
    // Hidden, by OK, Escape or the title bar, the window asks nothing any more.
    if (!visible) CancelCheck();
    QDialog::setVisible(visible);
}

QString CMivexDlgUpdate::Text() const { return m_messages->toPlainText(); }

void CMivexDlgUpdate::SetLines(const UpdateLines& lines) {
    m_messages->setPlainText(FromStd(lines[0]) + QLatin1Char('\n') + FromStd(lines[1]));
}

void CMivexDlgUpdate::Log(const std::string& line) const {
    if (m_log) m_log(line);
}

void CMivexDlgUpdate::OnCheck() {
    if (IsChecking()) return;
    if (!m_server) return ShowReport(ReportNoServer());
    m_strBeforeCheck = Text();
    m_check->setEnabled(false);
    m_messages->setPlainText(FromStd(RunningLine(*m_server)));
    m_pCheck = std::make_unique<CUpdateCheck>(*m_server, m_log, m_timeouts);
    const int checkNumber = ++m_iCheckNumber;
    m_worker = std::thread([this, check = m_pCheck.get(), checkNumber] {
        m_bChecked = check->Check();
        const auto done = [this, checkNumber] { OnCheckDone(checkNumber); };
        QMetaObject::invokeMethod(this, done, Qt::QueuedConnection);
    });
}

void CMivexDlgUpdate::OnCheckDone(int checkNumber) {
    if (checkNumber != m_iCheckNumber || !IsChecking()) return;  // cancelled meanwhile
    m_worker.join();
    const std::unique_ptr<CUpdateCheck> check = std::move(m_pCheck);
    m_check->setEnabled(true);
    if (isActiveWindow()) m_check->setFocus();
    ShowReport(ReportCheck(m_bChecked, *check, m_ownVersion));
}

void CMivexDlgUpdate::ShowReport(const UpdateReport& report) {
    SetLines(report.lines);
    for (const std::string& line : report.lines) Log(line);
    if (report.checked) {
        m_strUpdateFile = FromStd(report.download);
        m_update->setEnabled(true);
    }
    emit checkFinished(report.checked);
}

void CMivexDlgUpdate::CancelCheck() {
    if (!IsChecking()) return;
    m_pCheck->Cancel();
    m_worker.join();
    m_pCheck.reset();
    m_messages->setPlainText(m_strBeforeCheck);
    m_check->setEnabled(true);
}

void CMivexDlgUpdate::OnUpdate() {
    if (m_strUpdateFile.isEmpty()) return;
    const QUrl address(m_strUpdateFile, QUrl::StrictMode);
    if (!m_urlOpener(address)) {
        // Ending now would leave the user with neither the program nor the download.
        const std::string text = "The web browser could not be started for " + m_strUpdateFile.toStdString();
        m_messages->appendPlainText(FromStd(text));
        Log(text);
        return;
    }
    if (m_closeProgram) m_closeProgram();
}

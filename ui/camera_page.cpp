#include "ui/camera_page.h"

#include <algorithm>
#include <limits>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QVBoxLayout>

#include "base/logging.h"
#include "base/paths.h"
#include "base/settings_store.h"
#include "capture/camera_recorder.h"
#include "capture/video_input_track.h"
#include "engine/engine_control.h"
#include "ui/camera_controls_dialog.h"
#include "ui/control_ids.h"
#include "ui/live_view.h"
#include "ui/main_sheet.h"
#include "ui/settings_pages.h"
#include "ui/tooltip_strings.h"

namespace {

constexpr const char* kSetCameraQuestion =
    "This change requires restarting Mivex! Select Yes to close Mivex!\nand change resolution and or camera";
constexpr const char* kResolutionChangeAborted = "Resolution change aborted";
constexpr const char* kNoCameraLine = "Camera setup....2";
constexpr const char* kFpsZeroLog = "Camera error: fps == 0, rebooting";
constexpr const char* kFrameRateLowTitle = "Frame rate low";
constexpr const char* kFrameRateLowText =
    "For proper operation the frame rate should be above 10 (see mivex dialog->camera). Read manual";
constexpr const char* kTrackingPoorTitle = "Tracking is poor";
constexpr const char* kTrackingPoorText =
    "There are not enough tracking point for proper operation (camera not ok, or no head detection. see mivex "
    "dialog->camera) ";

constexpr const char* kReplayDeliversNothingLog =
    "Camera error: fps == 0, not rebooting: the recording played as the camera would end the same way again";
constexpr const char* kReplayDeliversNothing =
    "The recording played as the camera delivers no frames (the log says why); Mivex! does not restart for it";
constexpr const char* kRecordReport = "Record 10 s for a report";
constexpr const char* kRecordReportTip =
    "Records what the camera sends, untouched, for 10 seconds (at most 50 MB) into a file to attach to a problem "
    "report";
constexpr const char* kRecording = "Recording...";
constexpr const char* kRecordWarning =
    "The recording shows what the camera sees: your face and your room.\n\n"
    "Mivex! records 10 seconds of the camera's frames, exactly as the camera sends them, into a file on this "
    "computer and sends it nowhere. Attach it to a problem report only if you are happy for the report's readers to "
    "see it.\n\nRecord now?";
constexpr const char* kRecorded =
    "Recorded %1 s of the camera (%2 MB) into\n%3\n\n"
    "Attach it to your problem report with the diagnostic log, and delete it once it is no longer needed.";
constexpr const char* kNotRecorded = "Nothing was recorded: %1";
// A camera that stops sending still ends the recording this long after its time, with what came.
constexpr std::chrono::seconds kRecordingGrace{5};

constexpr int kWarningIcon = 2;
constexpr int kWarningTimeoutMs = 10'000;
constexpr int kScreenRestartDelayMs = 1000;

// Ticks between grants of the larger point limit, between status updates, and status updates
// between warning checks: 700 ms, 2.2 s and 26.4 s.
constexpr int kPointTicks = 5;
constexpr int kStatusTicks = 20;
constexpr int kWarnTicks = 10;
constexpr int kFpsGood = 10;
constexpr unsigned int kFpsTooLowToTell = 2;

// The whole number the text starts with, 0 when it starts with none.
int LeadingNumber(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^\\s*([+-]?\\d+)"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch()) return 0;
    bool ok = false;
    const qlonglong value = match.captured(1).toLongLong(&ok);
    if (!ok)
        return match.captured(1).startsWith(u'-') ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
    return static_cast<int>(
        std::clamp<qlonglong>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    buddy->setAccessibleName(QString(text).remove(u'&'));
    return label;
}

}  // namespace

CmivexDlgCamera::CmivexDlgCamera(PageHost& host, ScreenHeightSource screenHeight)
    : m_host(host), m_screenHeight(std::move(screenHeight)), m_iFpsWanted(host.store.ReadClamped(Setting::kCameraFps)) {
    m_pCameraList = new QListWidget(this);
    m_pFormatList = new QListWidget(this);
    m_pSetCamera = new QPushButton(QStringLiteral("Set camera"), this);
    m_pFpsWanted = new QLineEdit(this);
    m_pFpsCamera = new QLineEdit(this);
    m_pInformation = new QPlainTextEdit(this);
    m_pShowHeadDetect = new QCheckBox(QStringLiteral("Show head detect"), this);
    m_pCameraSetup = new QPushButton(QStringLiteral("Camera Setup"), this);
    m_pRecordReport = new QPushButton(QString::fromLatin1(kRecordReport), this);
    m_pLiveView = new CLiveView(this);

    SetControlId(m_pCameraList, ControlIds::kCameraList);
    SetControlId(m_pFormatList, ControlIds::kResolutionList);
    SetControlId(m_pSetCamera, ControlIds::kSetCamera);
    SetControlId(m_pFpsWanted, ControlIds::kFpsWanted);
    SetControlId(m_pFpsCamera, ControlIds::kFpsCamera);
    SetControlId(m_pInformation, ControlIds::kCameraInformation);
    SetControlId(m_pShowHeadDetect, ControlIds::kShowHeadDetect);
    SetControlId(m_pCameraSetup, ControlIds::kCameraSetup);
    SetControlId(m_pLiveView, ControlIds::kCameraView);

    m_pFpsWanted->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,3}")), this));
    m_pFpsCamera->setReadOnly(true);
    m_pFpsCamera->setFocusPolicy(Qt::NoFocus);  // a number to read, as the percentage fields are
    m_pInformation->setReadOnly(true);
    // A Tab stop, so the keyboard can scroll and copy it; the caret shows where the focus is.
    m_pInformation->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_pInformation->setTabChangesFocus(true);
    m_pInformation->setAccessibleName(QStringLiteral("Camera information"));
    m_pLiveView->setAccessibleName(QStringLiteral("Camera view"));
    m_pSetCamera->setEnabled(false);     // until there is a camera and a resolution to choose
    m_pCameraSetup->setEnabled(false);   // until the camera runs
    m_pRecordReport->setEnabled(false);  // until a webcam runs
    m_pRecordReport->setToolTip(QString::fromLatin1(kRecordReportTip));

    auto* lists = new QGridLayout;
    lists->addWidget(BuddyLabel(QStringLiteral("C&amera"), m_pCameraList, this), 0, 0);
    lists->addWidget(m_pCameraList, 1, 0);
    lists->addWidget(BuddyLabel(QStringLiteral("&Resolution"), m_pFormatList, this), 2, 0);
    lists->addWidget(m_pFormatList, 3, 0);
    lists->addWidget(m_pSetCamera, 4, 0);
    auto* rates = new QGridLayout;
    rates->addWidget(BuddyLabel(QStringLiteral("&Fps wanted"), m_pFpsWanted, this), 0, 0);
    rates->addWidget(m_pFpsWanted, 0, 1);
    rates->addWidget(BuddyLabel(QStringLiteral("Fps camera"), m_pFpsCamera, this), 1, 0);
    rates->addWidget(m_pFpsCamera, 1, 1);
    lists->addLayout(rates, 5, 0);
    lists->addWidget(m_pRecordReport, 6, 0);

    auto* viewOptions = new QHBoxLayout;
    viewOptions->addWidget(m_pShowHeadDetect);
    viewOptions->addStretch(1);
    viewOptions->addWidget(m_pCameraSetup);
    auto* view = new QVBoxLayout;
    view->addWidget(m_pLiveView);
    view->addLayout(viewOptions);
    view->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addLayout(view);
    top->addLayout(lists, 1);
    auto* page = new QVBoxLayout(this);
    page->addLayout(top);
    page->addWidget(m_pInformation, 1);

    SetTabOrder({m_pShowHeadDetect, m_pCameraSetup, m_pCameraList, m_pFormatList, m_pSetCamera, m_pFpsWanted,
                 m_pRecordReport, m_pInformation});

    connect(m_pSetCamera, &QPushButton::clicked, this, &CmivexDlgCamera::OnSetCamera);
    connect(m_pCameraSetup, &QPushButton::clicked, this, &CmivexDlgCamera::OnCameraSetup);
    connect(m_pRecordReport, &QPushButton::clicked, this, &CmivexDlgCamera::OnRecordReport);
    connect(m_pFpsWanted, &QLineEdit::textChanged, this, &CmivexDlgCamera::OnFpsWantedChanged);
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, &CmivexDlgCamera::OnTimer);
}

CmivexDlgCamera::~CmivexDlgCamera() { SetLiveView(false); }

int CmivexDlgCamera::PrimaryScreenHeight() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 0;
}

CmivexDlgMain* CmivexDlgCamera::Sheet() const { return qobject_cast<CmivexDlgMain*>(window()); }

void CmivexDlgCamera::SetLiveView(bool on) {
    m_bLiveView = on;
    m_host.engine.SetLiveView(on);
}

void CmivexDlgCamera::OnInitDialog() {
    SetToolTipsEnabled(true);
    m_timer.start();
    m_bFormatsListed = false;
    m_bCamerasListed = false;
    m_iFpsWanted = m_host.store.ReadClamped(Setting::kCameraFps);
    m_pFpsWanted->setText(QString::number(m_iFpsWanted));
    CMyPropertyPageToolTips::OnInitDialog();
}

void CmivexDlgCamera::OnSetActive() {
    FillFormatList();
    FillCameraList();
    SetLiveView(true);
}

void CmivexDlgCamera::OnKillActive() { SetLiveView(false); }

void CmivexDlgCamera::hideEvent(QHideEvent* event) {
    // The window was hidden or closed with this page current: no one sees the picture.
    if (!event->spontaneous()) SetLiveView(false);
    CMyPropertyPageToolTips::hideEvent(event);
}

void CmivexDlgCamera::OnOK() {
    SetLiveView(false);
    CMyPropertyPageToolTips::OnOK();
}

void CmivexDlgCamera::FillFormatList() {
    CNCVideoInputTrack* camera = m_host.engine.Camera();
    if (!m_host.engine.Status().cameraRunning || !camera || m_bFormatsListed) return;
    int width = 0, height = 0, selected = -1;
    const int count = camera->GetResolution(0, width, height, selected);
    for (int i = 0; i < count; ++i) {
        camera->GetResolution(i, width, height, selected);
        m_pFormatList->addItem(QString::asprintf("%d x %d", width, height));
    }
    m_pFormatList->setCurrentRow(selected);
    m_bFormatsListed = true;
    EnableSetCamera();
}

void CmivexDlgCamera::FillCameraList() {
    CNCVideoInputTrack* camera = m_host.engine.Camera();
    if (!m_host.engine.Status().cameraRunning || !camera || m_bCamerasListed) return;
    std::string name;
    int selected = -1;
    const int count = camera->GetCameraName(0, name, selected);
    if (count <= 0) return;
    if (selected >= 0) {
        for (int i = 0; i < std::min(count, kMaxListedCameras); ++i) {
            camera->GetCameraName(i, name, selected);
            m_pCameraList->addItem(QString::fromStdString(name));
        }
    }
    m_pCameraList->setCurrentRow(selected);
    m_bCamerasListed = true;
    EnableSetCamera();
}

void CmivexDlgCamera::EnableSetCamera() {
    // Both lists filled: otherwise the choice could store camera -1 or an undefined width.
    m_pSetCamera->setEnabled(m_bFormatsListed && m_bCamerasListed && m_pFormatList->count() > 0 &&
                             m_pCameraList->count() > 0);
}

void CmivexDlgCamera::OnFpsWantedChanged(const QString& text) {
    CNCVideoInputTrack* camera = m_host.engine.Camera();
    if (!camera || camera->SelectedCamera() == -1) return;
    const int fps = LeadingNumber(text);
    if (fps == m_iFpsWanted) return;
    m_iFpsWanted = fps;
    if (fps >= 1) {
        camera->Stop();
        camera->SetFrameRate(fps, camera->CapabilityIndex());
        camera->Run();
    }
    m_host.store.Write(Setting::kCameraFps, fps);
}

void CmivexDlgCamera::OnSetCamera() {
    CNCVideoInputTrack* camera = m_host.engine.Camera();
    const int format = m_pFormatList->currentRow();
    const int cameraIndex = m_pCameraList->currentRow();
    if (!camera || format < 0 || cameraIndex < 0) return;
    const QString title = QCoreApplication::applicationName();
    if (QMessageBox::question(this, title, QString::fromLatin1(kSetCameraQuestion)) != QMessageBox::Yes) {
        QMessageBox::information(this, title, QString::fromLatin1(kResolutionChangeAborted));
        return;
    }
    int width = 0, height = 0, selected = -1;
    camera->GetResolution(format, width, height, selected);
    m_host.store.Write(Setting::kCameraWidth, width);
    m_host.store.Write(Setting::kCameraHeight, height);
    m_host.store.Write(Setting::kRebootResolution, 1);
    m_host.store.Write(Setting::kCameraSelected, cameraIndex);
    if (CmivexDlgMain* sheet = Sheet()) sheet->CloseProgramForRestart();
}

void CmivexDlgCamera::OnCameraSetup() {
    CNCVideoInputTrack* camera = m_host.engine.Camera();
    if (!camera) return;
    if (!m_pControls) m_pControls = new CCameraControlsDialog(camera->Input(), window());
    m_pControls->Refresh();
    m_pControls->show();
    m_pControls->raise();
    m_pControls->activateWindow();
}

void CmivexDlgCamera::OnRecordReport() {
    CCameraRecorder* recorder = m_host.cameraRecorder;
    if (!recorder || m_iRecordingTicks >= 0) return;
    const QString title = QCoreApplication::applicationName();
    if (QMessageBox::question(this, title, QString::fromLatin1(kRecordWarning)) != QMessageBox::Yes) return;
    const std::string name = "MivexCamera-" +
                             QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString() +
                             ".mkv";
    const std::filesystem::path file = StateDirectory() / name;
    std::string error;
    if (!recorder->Start(file, {.duration = kReportSeconds, .bytes = kReportBytes}, error)) {
        QMessageBox::warning(this, title, QString::fromLatin1(kNotRecorded).arg(QString::fromStdString(error)));
        return;
    }
    if (m_host.log) m_host.log->Write("Camera recording for a report: " + file.string(), true);
    m_iRecordingTicks = 0;
    m_pRecordReport->setText(QString::fromLatin1(kRecording));
    m_pRecordReport->setEnabled(false);
}

void CmivexDlgCamera::FollowRecording() {
    CCameraRecorder* recorder = m_host.cameraRecorder;
    if (!recorder || m_iRecordingTicks < 0) return;
    CCameraRecorder::Status status = recorder->Progress();
    if (status.state == CCameraRecorder::State::Waiting || status.state == CCameraRecorder::State::Recording) {
        if (++m_iRecordingTicks * std::chrono::milliseconds(kTimerMs) < kReportSeconds + kRecordingGrace) return;
        recorder->Stop();
        status = recorder->Progress();
    }
    m_iRecordingTicks = -1;
    m_pRecordReport->setText(QString::fromLatin1(kRecordReport));
    const bool done = status.state == CCameraRecorder::State::Done;
    if (m_host.log)
        m_host.log->Write(done ? "Camera recorded for a report: " + status.file.string() + ", " +
                                     std::to_string(status.buffers) + " frames, " + std::to_string(status.bytes) +
                                     " bytes"
                               : "Camera recording for a report failed: " + status.error,
                          true);
    const QString text = done ? QString::fromLatin1(kRecorded)
                                    .arg(std::chrono::duration<double>(status.duration).count(), 0, 'f', 1)
                                    .arg(static_cast<double>(status.bytes) / 1e6, 0, 'f', 1)
                                    .arg(QString::fromStdString(status.file.string()))
                              : QString::fromLatin1(kNotRecorded).arg(QString::fromStdString(status.error));
    // Not waited for: the page's timer goes on meanwhile.
    auto* box = new QMessageBox(done ? QMessageBox::Information : QMessageBox::Warning,
                                QCoreApplication::applicationName(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->open();
}

void CmivexDlgCamera::PaintLiveView(int width, int height, std::vector<std::uint8_t>& bytes) {
    if (!m_bLiveView) return;
    const EngineStatus status = m_host.engine.Status();
    std::optional<HeadRect> head;
    if (status.headFound && m_pShowHeadDetect->isChecked()) head = status.head;
    const PointDisplay display = m_host.engine.Display();
    m_pLiveView->PaintLiveView(width, height, bytes,
                               LiveViewMarks::Compute(width, height, head, display.headX, display.headY));
}

void CmivexDlgCamera::ShowInformation(const QString& text) {
    if (m_pInformation->toPlainText() != text) m_pInformation->setPlainText(text);
}

void CmivexDlgCamera::OnTimer() {
    if (m_bRestarting) return;
    FollowRecording();
    const EngineStatus status = m_host.engine.Status();
    CNCVideoInputTrack* camera = m_host.engine.Camera();
    if (status.cameraRunning && camera) {
        if (m_bLiveView && m_host.engine.ReadLiveView(m_liveFrame))
            PaintLiveView(camera->Width(), camera->Height(), m_liveFrame);
        m_pCameraSetup->setEnabled(true);
        m_strCameraLine = QString::fromStdString(camera->CameraName());
        m_pRecordReport->setEnabled(m_host.cameraRecorder && !m_host.replayedCamera && m_iRecordingTicks < 0);
    } else {
        m_strCameraLine = QString::fromLatin1(kNoCameraLine);
        ShowInformation(m_strCameraLine);
    }
    if (m_pInformation->toPlainText().isEmpty()) ShowInformation(m_strCameraLine);

    if (m_iPointTicks++ > kPointTicks) {
        m_host.engine.AllowMorePoints();
        m_iPointTicks = 0;
    }
    if (m_iStatusTicks++ <= kStatusTicks) return;
    m_iStatusTicks = 0;
    StatusUpdate(status);
}

void CmivexDlgCamera::StatusUpdate(const EngineStatus& status) {
    if (const int screenHeight = m_screenHeight(); screenHeight != m_iScreenHeight) {
        if (m_iScreenHeight != 0) {
            RestartAfterScreenChange();
            return;
        }
        m_iScreenHeight = screenHeight;
    }

    // Unsigned, so that a frame counter that wrapped still gives the frames in between.
    unsigned int fps = (static_cast<unsigned int>(status.frames) - static_cast<unsigned int>(m_iLastFrameCount)) / 2;
    CNCVideoInputTrack* camera = m_host.engine.Camera();
    if (status.cameraRunning && camera) {
        m_pFpsCamera->setText(QString::asprintf("%d  ", static_cast<int>(fps)));
        ShowInformation(
            m_strCameraLine + u'\n' +
            QString::asprintf("Camera resolution: width: %d , height: %d", camera->Width(), camera->Height()) + u'\n' +
            QString::asprintf("Tracking points  : %d", status.points));
        if (fps == 0 && m_host.replayedCamera) {
            if (m_host.log && !m_bReplayEnded) m_host.log->Write(kReplayDeliversNothingLog, true);
            m_bReplayEnded = true;
            ShowInformation(m_pInformation->toPlainText() + u'\n' + QString::fromLatin1(kReplayDeliversNothing));
        } else if (fps == 0) {
            if (m_host.log) m_host.log->Write(kFpsZeroLog, true);
            m_bRestarting = true;
            if (CmivexDlgMain* sheet = Sheet()) sheet->CloseProgramForRestart();
            return;
        }
    } else {
        fps = 0;
    }
    m_iLastFrameCount = status.frames;

    if (m_iWarnTicks++ > kWarnTicks) {
        m_iWarnTicks = 0;
        CheckWarnings(fps, status.points);
    }
}

void CmivexDlgCamera::CheckWarnings(unsigned int fps, int points) {
    // A condition that persists is reported at its first check and then at every third.
    if (fps >= kFpsGood) {
        m_iFpsWarn = 0;
    } else if (fps > kFpsTooLowToTell) {
        if (++m_iFpsWarn == 0)
            TrayWarning(kFrameRateLowTitle, kFrameRateLowText);
        else if (m_iFpsWarn > 1)
            m_iFpsWarn = -1;
    }
    if (points >= kTrackingPointsGood) {
        m_iPointsWarn = 0;
    } else if (++m_iPointsWarn == 0) {
        TrayWarning(kTrackingPoorTitle, kTrackingPoorText);
    } else if (m_iPointsWarn > 1) {
        m_iPointsWarn = -1;
    }
}

void CmivexDlgCamera::TrayWarning(const char* title, const char* text) {
    if (CmivexDlgMain* sheet = Sheet())
        sheet->TrayBalloon(QString::fromLatin1(title), QString::fromLatin1(text), kWarningIcon, kWarningTimeoutMs);
}

void CmivexDlgCamera::RestartAfterScreenChange() {
    // A new screen is no failure: the restart does not count toward the restart loop. The program
    // waits a moment for the desktop to settle on the new size first.
    m_bRestarting = true;
    QTimer::singleShot(kScreenRestartDelayMs, this, [this] {
        m_host.store.Write(Setting::kRebootCount, 0);
        if (CmivexDlgMain* sheet = Sheet()) sheet->CloseProgramForRestart();
    });
}

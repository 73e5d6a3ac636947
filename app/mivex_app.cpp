#include "app/mivex_app.h"

#include <cstdio>

#include "app/program_restart.h"
#include "app/window_activation.h"
#include "base/system_version.h"
#include "capture/camera_recorder.h"
#include "capture/replayed_camera.h"
#include "capture/v4l2_capture.h"
#include "capture/video_file_capture.h"
#include "capture/video_input_track.h"
#include "output/click_sound.h"
#include "output/detect_window.h"
#include "output/keyboard.h"
#include "output/mouse.h"
#include "output/pipe_socket.h"
#include "output/sdk.h"
#include "output/thread_pipe.h"
#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/dialog_float.h"
#include "ui/hotkey_page.h"
#include "ui/live_dialog.h"
#include "ui/main_sheet.h"
#include "ui/profile_editor/profile_dialog.h"
#include "ui/settings_pages.h"
#include "ui/thread_float.h"
#include "update/update_dialog.h"
#include "update/update_reminder.h"

namespace {

// The texts the user sees and the log lines start-up and shutdown write.
constexpr const char* kAlreadyRunning = "ERROR: Mivex! program already running";
constexpr const char* kRebootLoop = "ERROR: reboot loop > 30";
constexpr const char* kResolutionNotSet = "ERROR: Camera resolution not set (0), Aborting";
constexpr const char* kRunFailed = "ERROR: m_pVideoTrack->Run failed";
constexpr const char* kNoCamera = "ERROR: no camera detected, or camera in use";
constexpr const char* kCameraTitle = "Mivex! camera";
constexpr const char* kWaitingForCamera = "Waiting for the camera (%1): Mivex! tries again every %2 s";
constexpr const char* kCameraBack = "Camera found again: tracking starts";
constexpr int kInformationBalloon = 1;
constexpr const char* kSettingsNotSaved = "ERROR: settings cannot be saved, changes last until the program ends: ";
constexpr const char* kNoLog = "No diagnostic log: ";
constexpr const char* kPointerNoticeTitle = "Mivex! pointer";
constexpr const char* kSettingsNoticeTitle = "Mivex! settings";
constexpr int kWarningBalloon = 2;  // the balloon's icon kind
constexpr int kNoticeBalloonMs = 10'000;
constexpr const char* kInTray = "WriteToolbar";
constexpr const char* kNoTrayYet =
    "No system tray yet: the icon goes into one that starts within %1 s, else the settings window shows "
    "(closing it keeps the program running; end it with its Exit button)";
constexpr const char* kTrayGone =
    "System tray gone: the settings window carries Update, About and Exit until a tray comes back";

// Set only by the end-to-end tests, which run copies at once and cannot wait a minute: the lock's
// folder, and the healthy run time in milliseconds.
constexpr const char* kTestLockFolderVariable = "MIVEX_TEST_LOCK_FOLDER";
constexpr const char* kTestHealthyRunVariable = "MIVEX_TEST_HEALTHY_RUN_MS";

std::chrono::milliseconds HealthyRunTime() {
    if (const char* value = std::getenv(kTestHealthyRunVariable); value && *value)
        return std::chrono::milliseconds(std::atoi(value));
    return CmivexApp::kHealthyRunTime;
}

QString WaitingForCamera(const std::string& reason) {
    return QString::fromLatin1(kWaitingForCamera)
        .arg(QString::fromStdString(reason))
        .arg(static_cast<int>(CmivexApp::kCameraRetry.count()));
}

class CDiscardingInjector final : public IInputInjector {
public:
    void Send(const InputEvent&) noexcept override {}
};

}  // namespace

CmivexApp::CmivexApp(int& argc, char** argv, ProgramOptions options, ActivationToken activation)
    : QApplication(argc, argv),
      m_options(std::move(options)),
      m_activation(std::move(activation)),
      m_messages(m_options.noDialogs ? CUserMessages::Mode::StandardError : CUserMessages::Mode::Dialogs),
      m_pCameraRecorder(std::make_unique<CCameraRecorder>()) {
    setApplicationName(CSettingsStore::kAppTitle);
    // Taken by every window and box that has none of its own: the speed profile dialog, the
    // question and message boxes.
    setWindowIcon(MivexIcon());
    // The program lives in the tray: hiding or closing its last window must not end it.
    setQuitOnLastWindowClosed(false);
    m_healthyRunTimer.setSingleShot(true);
    connect(&m_healthyRunTimer, &QTimer::timeout, this, [this] { ClearRebootCountWhenHealthy(); });
}

CmivexApp::~CmivexApp() {
    m_pBus.reset();  // before the window and the page its calls reach
    m_pThreadFloat.reset();
    m_pDlgFloat.reset();  // before the pointer and the history its tick uses
    m_pDlgAbout.reset();
    m_pDlgUpdate.reset();
    m_pDlgLive.reset();
    m_profileLink.Attach(nullptr);
    m_pDlgProfile.reset();
    m_pDlgMain.reset();  // and its pages
    m_pPageHost.reset();
    m_pThreadPipe.reset();
    m_pEngine.reset();          // before the pointer it moves and the samples it pushes
    m_pCameraRecorder->Stop();  // a report's recording under way keeps what it has
    m_pSdk.reset();
    m_pMouse.reset();     // lets go of a held middle button
    m_pKeyboard.reset();  // and of the hotkey's keys
    m_pDetectWindow.reset();
    m_messages.SetLog(nullptr);
    m_pLogging.reset();
}

int CmivexApp::Run() {
    if (!InitInstance())
        m_iExitCode = 1;
    else if (!m_pDlgMain->IsClosed()) {
        ConnectSignals();
        m_healthyRunTimer.start(HealthyRunTime());
        exec();
    }
    const int exitCode = ExitInstance();
    return m_iExitCode != 0 ? m_iExitCode : exitCode;
}

void CmivexApp::SetDisplayChoice(DisplayEnvironment environment, std::string chosenPlatform) {
    m_display = std::move(environment);
    m_chosenPlatform = std::move(chosenPlatform);
}

void CmivexApp::Log(const char* text) {
    if (m_pLogging) m_pLogging->Write(text, true);
}

void CmivexApp::LogAndPrint(const std::string& text) {
    Log(text.c_str());
    std::fprintf(stderr, "%s\n", text.c_str());
}

void CmivexApp::LogInt(const char* label, int value) {
    if (!m_pLogging) return;
    m_pLogging->Write(label, false);
    m_pLogging->WriteInt(value, "", true);
}

CSingleInstance CmivexApp::MakeSingleInstance() {
    if (const char* folder = std::getenv(kTestLockFolderVariable); folder && *folder)
        return CSingleInstance(CSingleInstance::LockFileIn(folder));
    return CSingleInstance();
}

void CmivexApp::ConnectSignals() {
    m_pSignals = std::make_unique<CTerminationSignals>();
    connect(m_pSignals.get(), &CTerminationSignals::exitRequested, this,
            [this] { PostSheetMessage(m_pDlgMain.get(), kMsgExit); });
    connect(m_pSignals.get(), &CTerminationSignals::restartRequested, this, [this] { RequestReboot(); });
}

void CmivexApp::ClearRebootCountWhenHealthy() {
    if (!m_pEngine || m_pEngine->StopAll() || m_pEngine->Status().frames <= 0) return;
    m_iRebootCount = 0;
    m_store.Write(Setting::kRebootCount, 0);
}

bool CmivexApp::InitInstance() {
    switch (m_hMutex.Acquire()) {
        case CSingleInstance::Result::AlreadyRunning: {
            // The running copy's window comes up first, so that it is in front once the user has
            // read the message. Without a bus the message alone, as ever.
            const ActivationToken activation = WithUserTime(m_activation);
            std::string notShown;
            if (!AskRunningCopyToShow(activation, m_hMutex.LockFile(), notShown))
                std::fprintf(stderr, "The running copy's window not shown: %s\n", notShown.c_str());
            m_messages.DisplayAsked(kAlreadyRunning, [&](QWidget& box) { ActivateForUser(box, activation); });
            return false;
        }
        case CSingleInstance::Result::Failed:
        case CSingleInstance::Result::Acquired:
            break;
    }

    m_pLogging = std::make_unique<CLogging>(m_store);
    m_pLogging->Open();
    if (!m_pLogging->IsOpen()) std::fprintf(stderr, "%s%s\n", kNoLog, m_pLogging->OpenError().c_str());
    m_messages.SetLog(m_pLogging.get());
    // The log's own counter was the first write: an unreadable settings file was set aside then,
    // and a store that cannot keep it keeps nothing. Said once: later writes fail the same way.
    if (const std::string notice = CSettingsStore::TakeUnreadableNotice(); !notice.empty()) Log(notice.c_str());
    if (!m_store.WriteError().empty()) LogAndPrint(kSettingsNotSaved + m_store.WriteError());
    // Later failures are said when they happen, each once.
    m_store.SetWriteFailureHandler([this](const std::string& why) { ReportSettingsNotSaved(why); });
    if (!m_hMutex.Error().empty()) LogAndPrint("Single instance not guarded: " + m_hMutex.Error());
    LogDisplay();
    CreateInputInjection();
    CreateEngine();

    CreateFloatWindow();
    m_pEngine->StopAll() = false;

    if (!ReadRebootState()) return false;

    m_pSdk = std::make_unique<CSdk>();
    m_pEngine->RegisterSocket(m_pSdk.get());
    m_pDlgAbout = std::make_unique<CAboutDlg>();
    CreateUpdateWindow();
    m_pDlgLive = std::make_unique<CmivexDlgLive>();
    m_pThreadFloat = std::make_unique<CThreadFloat>(*m_pDlgFloat, m_mirror, m_pEngine->StopAll());
    m_pThreadFloat->Start();

    CreateMainSheet();
    ReadCameraSettings();
    InitialisePages();

    m_pEngine->StartThreadHeadDetect(true);
    m_pEngine->StartThreadCamera(true);

    StartCamera();
    CountUpdateReminder();
    if (!m_pEngine->StopAll()) ShowInTray();
    if (!m_pEngine->StopAll()) OfferOnSessionBus();
    Log("InitInstance exit OK");
    if (!m_pEngine->StopAll()) CreateProfileDialog();
    if (!m_pEngine->StopAll()) StartThreadPipe();
    return true;
}

void CmivexApp::LogDisplay() {
    const std::vector<std::string> lines = DescribeDisplay(m_display, m_chosenPlatform, platformName().toStdString());
    Log(lines.front().c_str());
    // What a Wayland client loses is worth a line where the user sees it.
    for (auto line = lines.begin() + 1; line != lines.end(); ++line) LogAndPrint(*line);
}

void CmivexApp::CreateInputInjection() {
    InjectorSelectionOptions options;
    if (const char* wanted = std::getenv(kInjectorVariable); wanted && std::string_view(wanted) == "xtest")
        options.useUinput = false;
    m_injection = SelectInputInjector(options);
    Log(m_injection.text.c_str());
    // A user who asked for XTest needs no remedy for uinput.
    if (m_display.IsWaylandSession() && options.useUinput) m_pointerNotice = WaylandPointerNotice(m_injection);
    if (!m_pointerNotice.empty()) LogAndPrint(m_pointerNotice);
    if (m_injection.kind == InjectorKind::Unavailable) {
        m_pDiscardInput = std::make_unique<CDiscardingInjector>();
        m_messages.Display(m_injection.text);
    }
    IInputInjector& injector = m_injection.injector ? *m_injection.injector : *m_pDiscardInput;
    m_pMouse = std::make_unique<CMouse>(injector, m_mirror);
    m_pKeyboard = std::make_unique<CKeyboard>(injector);
    m_pDetectWindow = std::make_unique<CDetectWindow>();
}

bool CmivexApp::ReadRebootState() {
    // The count handed over by the copy that restarted itself is the restart's own record.
    const int rebootCount = m_options.restartCount.value_or(m_store.Read(Setting::kRebootCount));
    if (rebootCount > Setting::kRebootLimit) {
        m_messages.Show(kRebootLoop);
        m_store.Write(Setting::kRebootCount, 0);
        return false;
    }
    m_iRebootCount = rebootCount;
    if (rebootCount > 0) {
        LogInt("RebootCount>0 ", rebootCount);
        m_mirror.m_bMouseActive = m_store.ReadBool(Setting::kBootUseMouse);
        const int rebootResolution = m_store.Read(Setting::kRebootResolution);
        m_store.Write(Setting::kRebootResolution, 0);
        m_bRebootResolution = rebootResolution != 0;
    }
    return true;
}

void CmivexApp::CreateFloatWindow() {
    m_pClickSound =
        std::make_unique<CClickSound>(ClickSoundFile(), [this](const std::string& line) { Log(line.c_str()); });
    m_pDlgFloat = std::make_unique<CDialogFloat>(m_store, m_mirror, *m_pMouse, *m_pDetectWindow, *m_pClickSound);
    // The window goes before the engine.
    m_pDlgFloat->WatchTracking([engine = m_pEngine.get()] { return engine->Status(); });
}

void CmivexApp::CreateEngine() {
    m_pEngine = std::make_unique<CEngine>(m_mirror, m_store, m_messages, m_pLogging.get());
    m_pEngine->RegisterPointer(m_pMouse.get());
}

void CmivexApp::CreateUpdateWindow() {
    std::string problem;
    const std::optional<UpdateServer> server = UpdateServerFromEnvironment(problem);
    if (!problem.empty()) LogAndPrint(problem);
    // The check logs from its worker thread; ExitInstance ends it before the log goes.
    m_pDlgUpdate = std::make_unique<CMivexDlgUpdate>(server, CSystemVersion().m_strVersion,
                                                     [this](const std::string& line) { Log(line.c_str()); });
}

void CmivexApp::CreateMainSheet() {
    m_pDlgMain = std::make_unique<CmivexDlgMain>(m_pEngine->StopAll());
    m_pDlgMain->SetAboutDialog(m_pDlgAbout.get());
    m_pDlgMain->SetUpdateWindow([this] { m_pDlgUpdate->ShowWindow(); });
    m_pDlgUpdate->SetCloseProgram([this] { m_pDlgMain->CloseProgram(); });
    m_pPageHost = std::make_unique<PageHost>(PageHost{m_store, m_mirror, *m_pEngine, *m_pMouse, m_profileLink,
                                                      m_pLogging.get(), m_pDlgFloat.get(), m_pClickSound.get()});
    m_pPageHost->waylandSession = m_display.IsWaylandSession();
    // Only a webcam's buffers can be recorded; a replayed one has its recording already.
    if (m_options.cameraFile.empty() && m_options.cameraReplay.empty())
        m_pPageHost->cameraRecorder = m_pCameraRecorder.get();
    m_pPageHost->replayedCamera = !m_options.cameraReplay.empty();
    AddSettingsPages(*m_pDlgMain, *m_pPageHost);
}

void CmivexApp::ReadCameraSettings() {
    m_iCameraSelected = m_store.ReadClamped(Setting::kCameraSelected);
    m_iCameraWidth = m_store.Read(Setting::kCameraWidth);
    m_iCameraHeight = m_store.Read(Setting::kCameraHeight);
    m_iCameraFps = m_store.ReadClamped(Setting::kCameraFps);
    LogInt("camera wanted: ", m_iCameraSelected);
    LogInt("camera resolution wanted: ", m_iCameraWidth);
    LogInt("camera fps wanted: ", m_iCameraFps);
}

void CmivexApp::InitialisePages() {
    // Every page initialises now, while the sheet stays hidden, and reads its settings into the
    // mirrors; the settings page stays active.
    ActivateSettingsPagesOnce(*m_pDlgMain);
}

void CmivexApp::CreateProfileDialog() {
    // Hidden until a profile button shows it; its initialisation builds the speed tables and
    // switches the profile as stored.
    m_pDlgProfile = std::make_unique<CmivexDlgProfile>(m_store, *m_pEngine, m_profileLink);
    m_pDlgProfile->OnInitDialog();
    m_profileLink.Attach(m_pDlgProfile.get());
}

std::unique_ptr<ICaptureLayer> CmivexApp::MakeCaptureLayer() const {
    if (!m_options.cameraReplay.empty())
        return std::make_unique<CReplayedCamera>(m_options.cameraReplay, ReplayedCameraOptions{.loop = true});
    if (!m_options.cameraFile.empty())
        return std::make_unique<CVideoFileCapture>(m_options.cameraFile, VideoFileCaptureOptions{.loop = true});
    return std::make_unique<CV4l2Capture>(
        std::make_unique<RecordingV4l2Device>(MakeSystemV4l2Device(), *m_pCameraRecorder));
}

void CmivexApp::StartCamera() {
    Log("Start camera");
    const std::string reason = OpenAndRunCamera(false);
    if (reason.empty()) return;
    if (WaitsForCamera()) {
        // A camera that failed a moment ago, or a USB camera not yet there at login: the user may
        // have no other way to start the program again.
        m_cameraWait = reason;
        LogAndPrint(WaitingForCamera(m_cameraWait).toStdString());
        connect(&m_cameraRetryTimer, &QTimer::timeout, this, [this] { RetryCamera(); });
        m_cameraRetryTimer.start(kCameraRetry);
        return;
    }
    m_messages.Show(std::string(kNoCamera) + ": " + reason);
    m_pEngine->StopAll() = true;
    m_iExitCode = 1;
    m_pDlgMain->CloseProgram();
}

std::string CmivexApp::OpenAndRunCamera(bool quiet) {
    std::unique_ptr<ICaptureLayer> layer = MakeCaptureLayer();
    ICaptureLayer* const capture = layer.get();
    // The engine keeps the layer, so the file's reason can still be asked for after it failed.
    const auto* videoFile = dynamic_cast<const CVideoFileCapture*>(layer.get());
    const auto* replay = dynamic_cast<const CReplayedCamera*>(layer.get());
    const int cameras =
        m_pEngine->OpenCamera(std::move(layer), m_iCameraSelected, m_iCameraWidth, m_iCameraFps, m_iCameraHeight);
    std::string fileError;
    if (videoFile && !videoFile->LastError().empty())
        fileError = "cannot open video file " + m_options.cameraFile + ": " + videoFile->LastError();
    if (replay && !replay->LastError().empty())
        fileError = "cannot open recording " + m_options.cameraReplay + ": " + replay->LastError();
    if (quiet && cameras == 0) return fileError.empty() ? "no camera found" : fileError;
    if (quiet) Log("Start camera");
    const CNCVideoInputTrack& camera = *m_pEngine->Camera();
    LogInt("camera's found: ", cameras);
    LogInt("selected camera numer: ", camera.SelectedCamera());
    if (!camera.CameraName().empty()) Log(("selected camera name: " + camera.CameraName()).c_str());
    if (cameras == 0) return fileError.empty() ? "no camera found" : fileError;

    // The layer's own lines say what went wrong where a result only says that something did.
    {
        const std::lock_guard lock(m_cameraLineMutex);
        m_lastCameraLine.clear();
    }
    capture->SetLog([this](const std::string& line) {
        Log(line.c_str());
        const std::lock_guard lock(m_cameraLineMutex);
        m_lastCameraLine = line;
    });
    const auto withLayerLine = [this](std::string reason) {
        const std::lock_guard lock(m_cameraLineMutex);
        return m_lastCameraLine.empty() ? reason : reason + ": " + m_lastCameraLine;
    };
    const std::string name = "camera \"" + camera.CameraName() + "\"";
    if (camera.Width() == 0) {
        // Said on its own as ever where the program then ends; the waiting copy says it as its reason.
        if (!WaitsForCamera()) m_messages.Show(kResolutionNotSet);
        return name + " cannot be opened, or offers no usable format";
    }
    if (!m_pEngine->AttachCamera(reinterpret_cast<WindowToken>(m_pDlgLive->Picture())))
        return name + " cannot be attached";
    if (!m_pEngine->RunCamera()) {
        Log(kRunFailed);
        return withLayerLine(name + " is found but does not start (in use by another program?)");
    }
    return "";
}

void CmivexApp::RetryCamera() {
    const std::string reason = OpenAndRunCamera(true);
    if (!reason.empty()) {
        // Said again only when the reason changes: a camera that stays away fills no log.
        if (reason != m_cameraWait) Log(WaitingForCamera(reason).toStdString().c_str());
        m_cameraWait = reason;
        return;
    }
    m_cameraRetryTimer.stop();
    m_cameraWait.clear();
    LogAndPrint(kCameraBack);
    // The minute of frames that makes a run healthy counts from now.
    m_healthyRunTimer.start(HealthyRunTime());
    ShowCameraNotice();
}

void CmivexApp::ShowCameraNotice() {
    const QString text = m_cameraWait.empty() ? QString::fromLatin1(kCameraBack) : WaitingForCamera(m_cameraWait);
    if (m_pDlgMain->IsTrayIconShown())
        m_pDlgMain->TrayBalloon(QString::fromLatin1(kCameraTitle), text,
                                m_cameraWait.empty() ? kInformationBalloon : kWarningBalloon, kNoticeBalloonMs);
    else
        m_pDlgMain->ShowNotice(m_cameraWait.empty() ? QString::fromStdString(m_pointerNotice) : text);
}

void CmivexApp::CountUpdateReminder() {
    const UpdateReminder reminder = AdvanceUpdateReminder(m_store, !m_pEngine->StopAll());
    if (reminder.show) m_pDlgUpdate->ShowReminder();
    LogInt("UpdateCount: ", reminder.count);
}

void CmivexApp::ShowInTray() {
    connect(m_pDlgMain.get(), &CmivexDlgMain::trayChanged, this,
            [this](bool inTray) { Log(inTray ? kInTray : kTrayGone); });
    // Without a tray the window shows itself once the wait is over: else nothing of the program
    // would be visible.
    const auto wait = std::chrono::duration_cast<std::chrono::seconds>(CmivexDlgMain::kTrayWait).count();
    const bool inTray = m_pDlgMain->WatchTray();
    if (inTray)
        Log(kInTray);
    else
        Log(QString::fromLatin1(kNoTrayYet).arg(wait).toStdString().c_str());
    if (m_bRebootResolution) {
        m_pDlgMain->SetActivePage(SettingsPageIndex(SettingsPage::Camera));
        m_pDlgMain->show();
        m_pDlgMain->raise();
        m_pDlgMain->activateWindow();
    }
    ShowPointerNotice(inTray);
    if (!m_cameraWait.empty()) ShowCameraNotice();
}

void CmivexApp::ShowPointerNotice(bool inTray) {
    if (m_pointerNotice.empty()) return;
    const QString text = QString::fromStdString(m_pointerNotice);
    if (inTray)
        m_pDlgMain->TrayBalloon(QString::fromLatin1(kPointerNoticeTitle), text, kWarningBalloon, kNoticeBalloonMs);
    else
        m_pDlgMain->ShowNotice(text);
}

void CmivexApp::ReportSettingsNotSaved(const std::string& why) {
    const std::string text = kSettingsNotSaved + why;
    LogAndPrint(text);
    if (!m_pDlgMain || m_pDlgMain->IsClosed()) return;
    if (m_pDlgMain->IsTrayIconShown())
        m_pDlgMain->TrayBalloon(QString::fromLatin1(kSettingsNoticeTitle), QString::fromStdString(text),
                                kWarningBalloon, kNoticeBalloonMs);
    else
        m_pDlgMain->ShowNotice(QString::fromStdString(text));
}

void CmivexApp::StartThreadPipe() {
    std::string error;
    const std::filesystem::path socket = PipeSocketPath(PipeFolder::Create, error);
    m_pThreadPipe = std::make_unique<CThreadPipe>(*m_pSdk, m_mirror.m_bSdkActive, m_pEngine->StopAll(),
                                                  BuiltVersionRecord().fileVersion, m_pLogging.get(),
                                                  CThreadPipe::Options{.replaceStale = m_hMutex.Held()});
    if (socket.empty() || !m_pThreadPipe->Start(socket))
        LogAndPrint("Local socket not offered: " + (socket.empty() ? error : m_pThreadPipe->Error()));
}

void CmivexApp::OfferOnSessionBus() {
    // The page lives as long as the window, which outlives the bus's object.
    auto* hotkeys = qobject_cast<CMivexDlgHotkey*>(m_pDlgMain->GetPage(SettingsPageIndex(SettingsPage::Hotkeys)));
    m_pBus = std::make_unique<CApplicationBus>(CApplicationBus::Handlers{
        .activate = [this](const ActivationToken& activation) { ShowForAnotherStart(activation); },
        .action = [hotkeys](std::string_view name) { return hotkeys && hotkeys->ActivateAction(name); }});
    std::string error;
    if (!m_pBus->Offer(error)) {
        Log(("Session bus not used (a second start cannot show this copy, nor --action reach it): " + error).c_str());
        m_pBus.reset();
    }
}

void CmivexApp::ShowForAnotherStart(const ActivationToken& activation) {
    if (m_pDlgMain->IsClosed()) return;
    PrepareActivation(*m_pDlgMain, activation);
    // At once, before the caller's reply: the second start's message then comes up in front.
    CSheetMessage setup(kMsgSetup, 0);
    sendEvent(m_pDlgMain.get(), &setup);
    ActivateForUser(*m_pDlgMain, activation);
}

void CmivexApp::RequestReboot() {
    if (!m_pDlgMain || m_pDlgMain->IsClosed()) return;
    m_pDlgMain->CloseProgramForRestart();
}

int CmivexApp::ExitInstance() {
    Log("ExitInstance begin");
    if (m_pDlgUpdate) m_pDlgUpdate->CancelCheck();
    // Capture first, then head detection, then the camera thread; the road is released.
    if (m_pEngine) m_pEngine->Stop();
    // The floating window stores its place as it goes.
    m_pThreadFloat.reset();
    m_pDlgFloat.reset();
    // The socket goes before the lock: the next copy may then make its own.
    if (m_pThreadPipe) m_pThreadPipe->Stop();
    m_pBus.reset();  // the name too, for the copy a restart starts

    m_hMutex.Release();

    if (m_pDlgMain && m_pDlgMain->RestartRequested()) {
        // The stored count, which a restart for a new screen size has set back; where the store
        // cannot keep it, this copy's own.
        int rebootCount = m_store.Read(Setting::kRebootCount) + 1;
        if (!m_store.Write(Setting::kRebootCount, rebootCount)) rebootCount = m_iRebootCount + 1;
        m_store.Write(Setting::kBootUseMouse, m_mirror.m_bMouseActive ? 1 : 0);
        Log("Reboot");
        // Closed before the new copy opens a log of its own.
        m_messages.SetLog(nullptr);
        m_pLogging.reset();
        RebootProgram(rebootCount);
    } else {
        m_store.Write(Setting::kRebootCount, 0);
        Log("ExitInstance end");
    }
    return 0;
}

void CmivexApp::RebootProgram(int rebootCount) {
    std::vector<std::string> arguments = m_options.arguments;
    arguments.insert(arguments.end(), {kRestartCountOption, std::to_string(rebootCount)});
    std::string error;
    if (!StartProgramCopy(arguments, error)) {
        m_messages.Display("ERROR: cannot restart: " + error);
        m_iExitCode = 1;
    }
}

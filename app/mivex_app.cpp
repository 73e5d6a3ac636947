#include "mivex_app.h"

#include <QDialog>
#include <QLabel>
#include <QSystemTrayIcon>
#include <chrono>
#include <thread>

#include "about_dialog.h"
#include "detect_window.h"
#include "head_detect.h"
#include "keyboard.h"
#include "main_sheet.h"
#include "mouse.h"
#include "page_tooltips.h"
#include "program_restart.h"
#include "thread_camera.h"
#include "v4l2_capture.h"
#include "video_file_capture.h"
#include "video_input_track.h"

namespace {

using namespace std::chrono_literals;

// The texts the user sees and the log lines start-up and shutdown write.
constexpr const char* kAlreadyRunning = "ERROR: Mivex! program already running";
constexpr const char* kRebootLoop = "ERROR: reboot loop > 30";
constexpr const char* kResolutionNotSet = "ERROR: Camera resolution not set (0), Aborting";
constexpr const char* kRunFailed = "ERROR: m_pVideoTrack->Run failed";
constexpr const char* kNoCamera = "ERROR: no camera detected, or camera in use";
constexpr const char* kNoTray =
    "No system tray: the settings window is shown instead of a tray icon (closing it keeps the program "
    "running; end it with Exit)";

// Tab texts of the settings window, in tab order.
constexpr const char* kPageTitles[] = {"Settings", "System setup", "Hotkeys", "Auto click", "Flight", "Camera"};
constexpr int kCameraPage = 5;

constexpr int kUpdateReminderLimit = 100;

// Thread start and stop waits.
constexpr auto kCameraStartPoll = 300ms;
constexpr auto kHeadDetectStartPoll = 100ms;
constexpr int kStartPolls = 101;
constexpr auto kSettle = 100ms;
constexpr auto kCameraStopPoll = 10ms;

class CDiscardingInjector final : public IInputInjector {
public:
    void Send(const InputEvent&) noexcept override {}
};

void Sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

}  // namespace

void CMotionOutputs::MouseMove(float dx, float dy) { m_mouse.Move(dx, dy); }

CmivexApp::CmivexApp(int& argc, char** argv, ProgramOptions options)
    : QApplication(argc, argv),
      m_options(std::move(options)),
      m_messages(m_options.noDialogs ? CUserMessages::Mode::StandardError : CUserMessages::Mode::Dialogs) {
    setApplicationName(CSettingsStore::kAppTitle);
    // The program lives in the tray: hiding or closing its last window must not end it.
    setQuitOnLastWindowClosed(false);
    connect(&m_signals, &CTerminationSignals::exitRequested, this, [this] {
        if (m_pDlgMain) PostSheetMessage(m_pDlgMain.get(), kMsgExit);
    });
    connect(&m_signals, &CTerminationSignals::restartRequested, this, [this] { RequestReboot(); });
}

CmivexApp::~CmivexApp() {
    m_pDlgAbout.reset();
    m_pDlgLive.reset();
    m_pDlgMain.reset();  // and its pages
    m_pOutputs.reset();
    m_pMouse.reset();    // lets go of a held middle button
    m_pKeyboard.reset(); // and of the hotkey's keys
    m_pDetectWindow.reset();
    m_messages.SetLog(nullptr);
    m_pLogging.reset();
}

int CmivexApp::Run() {
    if (!InitInstance()) m_iExitCode = 1;
    else if (!m_pDlgMain->IsClosed()) exec();
    const int exitCode = ExitInstance();
    return m_iExitCode != 0 ? m_iExitCode : exitCode;
}

void CmivexApp::Log(const char* text) {
    if (m_pLogging) m_pLogging->Write(text, true);
}

void CmivexApp::LogInt(const char* label, int value) {
    if (!m_pLogging) return;
    m_pLogging->Write(label, false);
    m_pLogging->WriteInt(value, "", true);
}

bool CmivexApp::InitInstance() {
    switch (m_hMutex.Acquire()) {
        case CSingleInstance::Result::AlreadyRunning:
            m_messages.Display(kAlreadyRunning);
            return false;
        case CSingleInstance::Result::Failed:
        case CSingleInstance::Result::Acquired:
            break;
    }

    m_pLogging = std::make_unique<CLogging>(m_store);
    m_pLogging->Open();
    m_messages.SetLog(m_pLogging.get());
    if (!m_hMutex.Error().empty()) Log(("Single instance not guarded: " + m_hMutex.Error()).c_str());
    CreateInputInjection();

    // Place of the floating window's creation (hidden), once it exists.
    m_state.m_bStopAll = false;

    if (!ReadRebootState()) return false;

    // Place of the values shared with the local socket, once they exist.
    m_pDlgAbout = std::make_unique<CAboutDlg>();
    // Place of the update window's creation (hidden), once it exists.
    m_pDlgLive = std::make_unique<QDialog>();
    m_pLivePicture = new QLabel(m_pDlgLive.get());
    // Place of the floating window's thread start, once it exists.

    CreateMainSheet();
    ReadCameraSettings();
    InitialisePages();

    m_pSpeedProfile = std::make_unique<CSpeedProfile>(m_store);
    m_pOutputs = std::make_unique<CMotionOutputs>(*m_pMouse);
    if (!m_pFeatureTracker)
        m_pFeatureTracker = std::make_unique<CFeatureTracker>(
            m_state, nullptr, MotionTargets{&m_mirror, m_pSpeedProfile.get(), m_pOutputs.get()});

    StartThreadHeadDetect(true);
    StartThreadCamera(true);

    StartCamera();
    CountUpdateReminder();
    if (!m_state.m_bStopAll) ShowInTray();
    // Place of clearing the camera page's "Show tracking points" box, once the page exists.
    Log("InitInstance exit OK");
    if (!m_state.m_bStopAll) LoadSpeedProfile();
    // Place of the local socket's thread start, once it exists.
    return true;
}

void CmivexApp::CreateInputInjection() {
    InjectorSelectionOptions options;
    if (const char* wanted = std::getenv(kInjectorVariable); wanted && std::string_view(wanted) == "xtest")
        options.useUinput = false;
    m_injection = SelectInputInjector(options);
    Log(m_injection.text.c_str());
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
    const int rebootCount = m_store.Read(Setting::kRebootCount);
    if (rebootCount > Setting::kRebootLimit) {
        m_messages.Show(kRebootLoop);
        m_store.Write(Setting::kRebootCount, 0);
        return false;
    }
    if (rebootCount > 0) {
        LogInt("RebootCount>0 ", rebootCount);
        m_mirror.m_bMouseActive = m_store.ReadBool(Setting::kBootUseMouse);
        const int rebootResolution = m_store.Read(Setting::kRebootResolution);
        m_store.Write(Setting::kRebootResolution, 0);
        m_bRebootResolution = rebootResolution != 0;
    }
    return true;
}

void CmivexApp::CreateMainSheet() {
    m_pDlgMain = std::make_unique<CmivexDlgMain>(m_state.m_bStopAll);
    m_pDlgMain->SetAboutDialog(m_pDlgAbout.get());
    CMyPropertyPageToolTips** pages[] = {&m_pDlgSettings, &m_pDlgSystem, &m_pDlgHotkey,
                                         &m_pDlgClick,    &m_pDlgFlight, &m_pDlgCamera};
    for (int i = 0; i < 6; ++i) {
        *pages[i] = new CMyPropertyPageToolTips;
        (*pages[i])->setWindowTitle(kPageTitles[i]);
        m_pDlgMain->AddPage(*pages[i]);
    }
}

void CmivexApp::ReadCameraSettings() {
    m_iCameraSelected = m_store.Read(Setting::kCameraSelected);
    m_iCameraWidth = m_store.Read(Setting::kCameraWidth);
    m_iCameraFps = m_store.ReadClamped(Setting::kCameraFps);
    LogInt("camera wanted: ", m_iCameraSelected);
    LogInt("camera resolution wanted: ", m_iCameraWidth);
    LogInt("camera fps wanted: ", m_iCameraFps);
}

void CmivexApp::InitialisePages() {
    // Every page initialises now, while the sheet stays hidden; the settings page stays active.
    constexpr int kInitOrder[] = {1, 3, 4, 2, 5, 0};
    for (int page : kInitOrder) m_pDlgMain->SetActivePage(page);

    // What the system page's initialisation does for mouse control: switched on at start when
    // the user asked for it, unless a restart already restored it.
    if (!m_mirror.m_bMouseActive) m_mirror.m_bMouseActive = m_store.ReadBool(Setting::kUseMouse);
    // The mouse and flight pages' mirrors, with the defaults and clamps of the settings table.
    m_mirror.Load(m_store);
}

bool CmivexApp::StartThreadHeadDetect(bool wait) {
    if (!m_pThreadHeadDetect) m_pThreadHeadDetect = std::make_unique<CThreadHeadDetect>(m_state, m_messages);
    if (!m_pThreadHeadDetect->Start(wait)) return false;
    if (wait) Sleep(kSettle);
    Log("THDB OK");
    return true;
}

bool CmivexApp::StopThreadHeadDetect(bool wait) {
    if (!m_pThreadHeadDetect) return true;
    if (!m_pThreadHeadDetect->Stop(wait)) return false;
    if (wait) Sleep(kSettle);
    return true;
}

bool CmivexApp::StartThreadCamera(bool wait) {
    m_state.m_bCameraThreadExit = false;
    if (!m_pThreadCamera) m_pThreadCamera = std::make_unique<CThreadCamera>(m_state, m_pFeatureTracker.get());
    m_pThreadCamera->Start();
    if (wait) {
        for (int polls = 0; !m_state.m_bCameraThreadRunning; ++polls) {
            if (polls == kStartPolls) return false;
            Sleep(kCameraStartPoll);
        }
        Sleep(kSettle);
    }
    Log("TCB OK");
    return true;
}

void CmivexApp::StopThreadCamera(bool wait) {
    if (!m_pThreadCamera) return;
    m_pThreadCamera->RequestExit();
    if (!wait) return;
    while (m_state.m_bCameraThreadRunning) Sleep(kCameraStopPoll);
    Sleep(kSettle);
}

std::unique_ptr<ICaptureLayer> CmivexApp::MakeCaptureLayer() const {
    if (!m_options.cameraFile.empty())
        return std::make_unique<CVideoFileCapture>(m_options.cameraFile, VideoFileCaptureOptions{.loop = true});
    return std::make_unique<CV4l2Capture>();
}

void CmivexApp::StartCamera() {
    m_pVideoTrack = std::make_unique<CNCVideoInputTrack>(MakeCaptureLayer(), m_state, m_pLogging.get());
    Log("Start camera");
    const int cameras = m_pVideoTrack->Open(m_iCameraSelected, m_iCameraWidth, m_iCameraFps);
    LogInt("camera's found: ", cameras);
    LogInt("selected camera numer: ", m_pVideoTrack->SelectedCamera());
    if (!m_pVideoTrack->CameraName().empty())
        Log(("selected camera name: " + m_pVideoTrack->CameraName()).c_str());

    if (cameras != 0) {
        if (m_pVideoTrack->Width() == 0) {
            m_messages.Show(kResolutionNotSet);
        } else if (m_pVideoTrack->AttachWindow(reinterpret_cast<WindowToken>(m_pLivePicture))) {
            m_pThreadCamera->SetFrameSize(m_pVideoTrack->Width(), m_pVideoTrack->Height());
            if (!m_pVideoTrack->Run()) {
                Log(kRunFailed);
                m_state.m_bStopAll = true;
            } else {
                m_bCameraRunning = true;
            }
        }
    }
    if (!m_bCameraRunning) {
        m_messages.Show(kNoCamera);
        m_state.m_bStopAll = true;
        m_iExitCode = 1;
        m_pDlgMain->CloseProgram();
    }
}

void CmivexApp::CountUpdateReminder() {
    int updateCount = m_store.Read(Setting::kUpdateCount) + 1;
    if (updateCount > kUpdateReminderLimit) {
        // Place of showing the update window, once it exists.
        updateCount = 0;
    }
    m_store.Write(Setting::kUpdateCount, updateCount);
    LogInt("UpdateCount: ", updateCount);
}

void CmivexApp::ShowInTray() {
    const bool inTray = m_pDlgMain->TrayIconAdd();
    if (inTray) Log("WriteToolbar");
    else Log(kNoTray);
    if (m_bRebootResolution) {
        m_pDlgMain->SetActivePage(kCameraPage);
        m_pDlgMain->show();
        m_pDlgMain->raise();
        m_pDlgMain->activateWindow();
    } else if (!inTray) {
        // Without a tray nothing of the program would be visible.
        PostSheetMessage(m_pDlgMain.get(), kMsgSetup);
    }
}

void CmivexApp::LoadSpeedProfile() {
    // What the speed profile dialog's initialisation does: the tables from the stored curves, and
    // the profile path while the flight simulator option is on.
    m_pSpeedProfile->BuildSpeedTables();
    m_pFeatureTracker->m_bUseProfile = m_store.ReadBool(Setting::kFlight);
}

void CmivexApp::RequestReboot() {
    if (!m_pDlgMain || m_pDlgMain->IsClosed()) return;
    m_state.m_bStopAll = true;
    m_bReboot = true;
    m_pDlgMain->CloseProgram();
}

int CmivexApp::ExitInstance() {
    Log("ExitInstance begin");
    if (m_pVideoTrack) {
        m_pVideoTrack->Stop();
        Sleep(kSettle);
    }
    m_state.m_bStopAll = true;
    m_bCameraRunning = false;
    StopThreadHeadDetect(true);
    StopThreadCamera(true);

    m_pVideoTrack.reset();
    m_pThreadCamera.reset();
    m_pThreadHeadDetect.reset();
    m_state.m_pDetectImage.release();
    m_pFeatureTracker.reset();
    // Place of destroying the floating window, once it exists; the local socket's thread will
    // end with the process.

    m_hMutex.Release();

    if (m_bReboot) {
        m_store.Write(Setting::kRebootCount, m_store.Read(Setting::kRebootCount) + 1);
        m_store.Write(Setting::kBootUseMouse, m_mirror.m_bMouseActive ? 1 : 0);
        Log("Reboot");
        // Closed before the new copy opens a log of its own.
        m_messages.SetLog(nullptr);
        m_pLogging.reset();
        RebootProgram();
    } else {
        m_store.Write(Setting::kRebootCount, 0);
        Log("ExitInstance end");
    }
    return 0;
}

void CmivexApp::RebootProgram() {
    std::string error;
    if (!StartProgramCopy(m_options.arguments, error)) {
        m_messages.Display("ERROR: cannot restart: " + error);
        m_iExitCode = 1;
    }
}

// The application object: owns every long-lived part of the program, starts them in order,
// takes them down in the reverse order, and restarts the program when asked.
//
//   CmivexApp app(argc, argv, options);
//   return app.Run();        // start-up, the event loop, shutdown; a restart starts a new copy
//
// Start-up and shutdown run on the user-interface thread. The frame road is the engine's; its
// threads meet the program only through the engine's atomic flags and the settings mirror.
#pragma once

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "app/application_bus.h"
#include "app/display_platform.h"
#include "app/program_options.h"
#include "app/single_instance.h"
#include "app/termination_signals.h"
#include "app/user_messages.h"
#include "base/logging.h"
#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "engine/engine.h"
#include "output/injector_selection.h"
#include "ui/profile_editor/profile_dialog_link.h"

class CAboutDlg;
class CCameraRecorder;
class CClickSound;
class CDialogFloat;
class CThreadFloat;
class ICaptureLayer;
class CDetectWindow;
class CKeyboard;
class CMouse;
class CSdk;
class CThreadPipe;
class CmivexDlgLive;
class CmivexDlgMain;
class CmivexDlgProfile;
class CMivexDlgUpdate;
struct PageHost;

class CmivexApp : public QApplication {
public:
    // How long a run must stay up, delivering frames, before its restarts stop counting: only
    // restarts in quick succession are a loop.
    static constexpr std::chrono::milliseconds kHealthyRunTime{60'000};
    // How often a copy that waits for its camera tries it again.
    static constexpr std::chrono::seconds kCameraRetry{5};

    // activation: what the desktop gave this start to let a window up, which a second start hands
    // to the running copy.
    CmivexApp(int& argc, char** argv, ProgramOptions options, ActivationToken activation);
    ~CmivexApp() override;

    // The session's display as the program found it, and the Qt platform chosen for it ("" for
    // Qt's own choice); start-up logs them.
    void SetDisplayChoice(DisplayEnvironment environment, std::string chosenPlatform);

    // Runs InitInstance, the event loop unless start-up already ended the program, and
    // ExitInstance. Returns the process's exit code.
    int Run();

    // False when the program must end at once (a copy already runs, a restart loop).
    bool InitInstance();
    int ExitInstance();

    // Ends this copy and starts a new one: the restart that the camera page asks for when frames
    // stop, the screen changes or another camera is chosen.
    void RequestReboot();
    // Starts the running executable again with the same arguments, handing over the count of
    // restarts in a row.
    void RebootProgram(int rebootCount);

    CSettingsMirror m_mirror;  // m_bMouseActive and the settings the frame road reads

    // The single-instance lock of this user's copies (a private one per end-to-end test).
    static CSingleInstance MakeSingleInstance();

private:
    void Log(const char* text);
    // A line for the log that also goes to standard error, where no message box is due.
    void LogAndPrint(const std::string& text);
    void LogInt(const char* label, int value);
    void LogDisplay();
    void CreateInputInjection();
    // In a Wayland session without uinput: the pointer reaches X11 windows at most; says so and how
    // to mend it, at the tray icon or in the settings window.
    void ShowPointerNotice(bool inTray);
    // A settings write that failed while the program runs: logged, and said at the tray icon or in
    // the settings window.
    void ReportSettingsNotSaved(const std::string& why);
    void CreateFloatWindow();
    // False when restarts loop: the start is refused.
    bool ReadRebootState();
    void CreateUpdateWindow();
    void CreateMainSheet();
    void InitialisePages();
    void CreateProfileDialog();
    void CreateEngine();
    void ReadCameraSettings();
    // Opens and runs the camera; a copy that may wait for it (started by a restart or at login)
    // tries again every kCameraRetry while it fails, else the program ends saying why.
    void StartCamera();
    // "" when the camera runs, else why it does not. Quiet: nothing logged while no camera is found.
    std::string OpenAndRunCamera(bool quiet);
    bool WaitsForCamera() const { return m_options.restartCount.has_value() || m_options.autostart; }
    void RetryCamera();
    void ShowCameraNotice();
    void CountUpdateReminder();
    void ShowInTray();
    // Other programs' way in: the local socket's server, when its socket can be made.
    void StartThreadPipe();
    // The door for a second start and `mivex --action` on the session bus, when there is one.
    void OfferOnSessionBus();
    void ShowForAnotherStart(const ActivationToken& activation);
    // Takes the signals' requests, held since the process started, now that start-up is done.
    void ConnectSignals();
    void ClearRebootCountWhenHealthy();
    std::unique_ptr<ICaptureLayer> MakeCaptureLayer() const;

    const ProgramOptions m_options;
    const ActivationToken m_activation;
    DisplayEnvironment m_display;
    std::string m_chosenPlatform;
    CSettingsStore m_store;
    CUserMessages m_messages;
    std::unique_ptr<CTerminationSignals> m_pSignals;
    QTimer m_healthyRunTimer;
    int m_iExitCode = 0;

    CSingleInstance m_hMutex = MakeSingleInstance();
    std::unique_ptr<CLogging> m_pLogging;

    // Input injection, made once this copy knows it is the only one: a second copy must not
    // release buttons that the first one holds.
    InjectorSelection m_injection;
    std::string m_pointerNotice;                      // for a Wayland session without uinput
    std::unique_ptr<IInputInjector> m_pDiscardInput;  // stands in when nothing can inject
    std::unique_ptr<CMouse> m_pMouse;
    std::unique_ptr<CKeyboard> m_pKeyboard;
    std::unique_ptr<CDetectWindow> m_pDetectWindow;

    // The samples for the local socket's clients, pushed by the frame road, and the server.
    std::unique_ptr<CSdk> m_pSdk;
    std::unique_ptr<CThreadPipe> m_pThreadPipe;
    std::unique_ptr<CApplicationBus> m_pBus;
    // The auto click sound and the floating window, with the timer that shows it while auto click
    // is on.
    std::unique_ptr<CClickSound> m_pClickSound;
    std::unique_ptr<CDialogFloat> m_pDlgFloat;
    std::unique_ptr<CThreadFloat> m_pThreadFloat;

    // Records the webcam's buffers for a report; outlives the capture layers that feed it.
    std::unique_ptr<CCameraRecorder> m_pCameraRecorder;
    // The frame road: capture, frame preparation, detection, tracking, mapping, outputs.
    std::unique_ptr<CEngine> m_pEngine;

    // The settings window; its pages (owned by it) reach the program through the page host.
    std::unique_ptr<PageHost> m_pPageHost;
    std::unique_ptr<CmivexDlgMain> m_pDlgMain;
    std::unique_ptr<CAboutDlg> m_pDlgAbout;
    // The speed profile dialog, made after the pages; the pages reach it through the link.
    CProfileDialogLink m_profileLink;
    std::unique_ptr<CmivexDlgProfile> m_pDlgProfile;
    std::unique_ptr<CMivexDlgUpdate> m_pDlgUpdate;
    // The hidden live video dialog; capture delivers frames while its picture control is attached.
    std::unique_ptr<CmivexDlgLive> m_pDlgLive;

    // While the camera is waited for: why, the timer of the next try, and the last line the
    // capture layer logged (from its own threads too), which says what no result does.
    std::string m_cameraWait;
    QTimer m_cameraRetryTimer;
    std::mutex m_cameraLineMutex;
    std::string m_lastCameraLine;

    int m_iCameraSelected = 0;
    int m_iCameraWidth = 0;
    int m_iCameraHeight = 0;
    int m_iCameraFps = 0;
    bool m_bRebootResolution = false;
    int m_iRebootCount = 0;  // restarts in a row before this start; 0 again after a healthy run
};

// The "Camera" page: choose the camera, its resolution and the wanted frame rate, see the live
// picture with the detected head, open the camera's own settings, and watch the health of
// tracking. Its 100 ms timer runs from the page's initialisation to the program's end, shown or
// not: it draws the live view while the page is current, grants the tracker its larger point
// limit every 700 ms, and every 2.2 s updates the status, warns in the tray when the frame rate
// or the number of points is low, and restarts the program when the camera delivers no frames
// (a replayed camera is not restarted: it would end the same way) or the primary screen's height
// changes. "Record 10 s for a report" records what the webcam sends into the state folder, after
// saying that the recording shows the user's face and room.
//
//   PageHost host{store, mirror, engine, mouse, &log};
//   sheet.AddPage(new CmivexDlgCamera(host));
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QTimer>

#include "ui/page_tooltips.h"

class CCameraControlsDialog;
class CLiveView;
class CmivexDlgMain;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
struct EngineStatus;
struct PageHost;

class CmivexDlgCamera : public CMyPropertyPageToolTips {
    Q_OBJECT
public:
    using ScreenHeightSource = std::function<int()>;
    static constexpr int kTimerMs = 100;
    static constexpr int kMaxListedCameras = 9;
    // A report's recording: at most this long and this large (raw YUYV at 640 x 480 and 30 frames
    // a second is 18 MB a second).
    static constexpr std::chrono::seconds kReportSeconds{10};
    static constexpr std::uint64_t kReportBytes = 50'000'000;

    // screenHeight gives the primary screen's height; a test may give another source.
    explicit CmivexDlgCamera(PageHost& host, ScreenHeightSource screenHeight = PrimaryScreenHeight);
    ~CmivexDlgCamera() override;

    static int PrimaryScreenHeight();

    void OnInitDialog() override;
    void OnSetActive() override;
    void OnKillActive() override;
    void OnOK() override;

    // One tick of the 100 ms timer.
    void OnTimer();
    // Draws a frame (top-down BGR rows) with the head marks while the page is current; the
    // bytes are taken over.
    void PaintLiveView(int width, int height, std::vector<std::uint8_t>& bytes);

    // The controls, as the user reaches them.
    QListWidget* CameraList() const { return m_pCameraList; }
    QListWidget* FormatList() const { return m_pFormatList; }
    QLineEdit* FpsWanted() const { return m_pFpsWanted; }
    QLineEdit* FpsCamera() const { return m_pFpsCamera; }
    QPlainTextEdit* Information() const { return m_pInformation; }
    QCheckBox* ShowHeadDetect() const { return m_pShowHeadDetect; }
    QPushButton* CameraSetupButton() const { return m_pCameraSetup; }
    QPushButton* SetCameraButton() const { return m_pSetCamera; }
    QPushButton* RecordReportButton() const { return m_pRecordReport; }
    CLiveView* LiveView() const { return m_pLiveView; }
    CCameraControlsDialog* CameraControls() const { return m_pControls; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    CmivexDlgMain* Sheet() const;
    void SetLiveView(bool on);
    void FillFormatList();
    void FillCameraList();
    void EnableSetCamera();
    void OnFpsWantedChanged(const QString& text);
    void OnSetCamera();
    void OnCameraSetup();
    void OnRecordReport();
    // Follows a report's recording to its end, then says where it went.
    void FollowRecording();
    void StatusUpdate(const EngineStatus& status);
    void CheckWarnings(unsigned int fps, int points);
    void TrayWarning(const char* title, const char* text);
    void RestartAfterScreenChange();
    void ShowInformation(const QString& text);

    PageHost& m_host;
    const ScreenHeightSource m_screenHeight;
    QTimer m_timer;

    QListWidget* m_pCameraList = nullptr;
    QListWidget* m_pFormatList = nullptr;
    QPushButton* m_pSetCamera = nullptr;
    QLineEdit* m_pFpsWanted = nullptr;
    QLineEdit* m_pFpsCamera = nullptr;
    QPlainTextEdit* m_pInformation = nullptr;
    QCheckBox* m_pShowHeadDetect = nullptr;
    QPushButton* m_pCameraSetup = nullptr;
    QPushButton* m_pRecordReport = nullptr;
    CLiveView* m_pLiveView = nullptr;
    CCameraControlsDialog* m_pControls = nullptr;  // made on first use

    bool m_bLiveView = false;
    bool m_bFormatsListed = false;
    bool m_bCamerasListed = false;
    bool m_bRestarting = false;
    bool m_bReplayEnded = false;  // a replayed camera's lack of frames was logged
    int m_iRecordingTicks = -1;   // ticks since a report's recording started; -1: none under way
    int m_iFpsWanted = 0;
    int m_iLastFrameCount = 0;
    int m_iFpsWarn = -1;
    int m_iPointsWarn = -1;
    int m_iWarnTicks = 0;
    int m_iPointTicks = 0;
    int m_iStatusTicks = 0;
    int m_iScreenHeight = 0;
    QString m_strCameraLine;  // the information text's first line
    std::vector<std::uint8_t> m_liveFrame;
};

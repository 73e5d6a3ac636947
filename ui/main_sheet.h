// The settings window and the tray icon. The program has no ordinary main window: it lives in
// the tray, and the settings window (six pages as tabs with one OK button under them, which runs
// the current page's OnOK; the pages have none of their own) is created hidden and shown from
// the tray icon. Where the desktop has no tray, the window's button row carries the tray menu's
// Update, About and Exit, and the window shows itself. It is the program's main window, a normal
// top-level window, not a dialog. Other threads and the pages reach the window only by posting
// messages to it; they are handled on the main thread.
//
//   std::atomic<bool> stopAll{false};
//   CmivexDlgMain sheet(stopAll);
//   sheet.SetAboutDialog(&about);
//   sheet.AddPage(settingsPage);  ...five more...
//   for (int i = sheet.PageCount() - 1; i >= 0; --i) sheet.SetActivePage(i);  // stays hidden
//   sheet.WatchTray();                       // the icon now or when a tray comes, else the window
//   if (!sheet.IsClosed()) app.exec();       // CloseProgram ends the loop
//
//   PostSheetMessage(&sheet, kMsgSetup);  // from any thread
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include "ui/tray_presence.h"

class CAboutDlg;
class CMyPropertyPageToolTips;
class QDialogButtonBox;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;

// The messages the window handles. The tray menu's item ids double as message numbers.
inline constexpr int kMsgNone = 0;  // a tray menu dismissed without a choice
inline constexpr int kMsgSetup = 0x0467;
inline constexpr int kMsgExit = 0x0468;
inline constexpr int kMsgAbout = 0x0469;
inline constexpr int kMsgUpdate = 0x046A;
inline constexpr int kMsgHide = 0x046E;
// The hide request hides only with this wParam.
inline constexpr int kHideConfirmed = 1;

// A message posted to the settings window.
class CSheetMessage : public QEvent {
public:
    CSheetMessage(int message, int wParam);
    static QEvent::Type EventType();

    const int message;
    const int wParam;
};

// Queues a message for the window; safe from any thread. Delivered on the window's thread.
void PostSheetMessage(QObject* sheet, int message, int wParam = 0);

class CmivexDlgMain : public QDialog {
    Q_OBJECT
public:
    // The tray balloon's limits, in characters.
    static constexpr int kBalloonTitleMax = 63;
    static constexpr int kBalloonTextMax = 255;
    // How long the program waits for a tray, at start and after its tray went away, before it shows
    // the window: at login the desktop's panel often starts after the program, and a panel that
    // restarts comes back within a few seconds.
    static constexpr std::chrono::milliseconds kTrayWait{5000};
    // How often it looks whether an XEmbed tray came or went: no signal tells here. A StatusNotifier
    // tray is followed by its signals.
    static constexpr std::chrono::milliseconds kTrayPoll{2000};

    // stopAll is the program's stop flag, set by CloseProgram. The application turns off
    // quitting on the last window's close, so that only CloseProgram ends it.
    explicit CmivexDlgMain(std::atomic<bool>& stopAll, QWidget* parent = nullptr);
    ~CmivexDlgMain() override;

    // Adds a tab labelled with the page's window title. The window becomes the page's parent:
    // a page not deleted before the window is deleted with it.
    void AddPage(CMyPropertyPageToolTips* page);
    int PageCount() const;
    // The page at index, or nullptr.
    CMyPropertyPageToolTips* GetPage(int index) const;
    // Makes the tab current and activates its page (OnInitDialog the first time, OnSetActive
    // every time; OnKillActive of the page it replaces), also while the window is hidden. False
    // for an index without a page.
    bool SetActivePage(int index);
    int GetActiveIndex() const;

    // The about box "About" shows; not owned, and nothing is shown while it is unset or gone.
    void SetAboutDialog(CAboutDlg* about);
    CAboutDlg* AboutDialog() const;
    // What "Update" shows; nothing happens while it is unset.
    void SetUpdateWindow(std::function<void()> showUpdateWindow);

    // Shows the program's icon in the tray, with its menu: "Setup", "Update", "About", "E&xit"
    // with separators, each action carrying its message number as data(), which choosing it posts
    // here. The menu is made once with the icon: a StatusNotifier tray shows the menu the icon
    // exported. False when this desktop has no tray.
    bool TrayIconAdd();
    // Takes the icon out of the tray; harmless when it was never added.
    void TrayIconRemove();
    bool IsTrayIconShown() const;
    // The icon while it is in the tray, else nullptr.
    const QSystemTrayIcon* TrayIcon() const { return m_pTray.get(); }
    // Puts the icon in the tray now or as soon as a tray comes, and follows the tray from then on
    // until CloseProgram. While no tray is there, the button row carries the tray
    // menu's Update, About and Exit; when none has come within `wait` of this call or of the tray
    // going away, the window shows: at start as for "Setup", later without taking the focus. True
    // when the icon is in the tray now.
    bool WatchTray(std::chrono::milliseconds wait = kTrayWait);
    // A notification at the tray icon. iconKind: 0 none, 1 information, 2 warning, 3 error.
    // The title and text are cut to kBalloonTitleMax and kBalloonTextMax characters.
    void TrayBalloon(const QString& title, const QString& text, int iconKind, int timeoutMs);
    // A line above the button row for what the user must know, with or without a tray (a tray's
    // balloon goes by); an empty text takes it away.
    void ShowNotice(const QString& text);

    // The one way to end the program from inside: hides the window, removes the tray icon,
    // tells every page (OnProgramClosed), sets the stop flag and ends the running event loop.
    // Before the loop runs there is no loop to end: the caller checks IsClosed() and does not
    // enter it. A second call does nothing more.
    void CloseProgram();
    bool IsClosed() const { return m_bClosed; }
    // CloseProgram for a restart: the program starts a new copy of itself once it has ended.
    void CloseProgramForRestart();
    bool RestartRequested() const { return m_bReboot; }

signals:
    // Emitted once, by the first CloseProgram.
    void programClosed();
    // Every tray notification, also where the desktop has no tray to show it.
    void balloonShown(const QString& title, const QString& text);
    // The icon went into a tray that came (true) or out of one that went away (false), after
    // WatchTray.
    void trayChanged(bool inTray);

protected:
    bool event(QEvent* event) override;
    // The title bar's close button and Escape only hide the window.
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void OnMessage(int message, int wParam);
    void ShowSetup();
    void ShowAbout();
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void FollowTray();
    void OnTrayWaitOver();
    void OnOk();
    void OnTabChanged(int index);
    // Last in the Tab order, after every page's controls: OK, then the tray menu's commands.
    void PutButtonRowLast();

    std::atomic<bool>& m_stopAll;
    QTabWidget* m_tabs = nullptr;
    QLabel* m_pNotice = nullptr;
    QDialogButtonBox* m_pButtons = nullptr;  // the one OK, under the tabs
    QList<QPushButton*> m_trayCommands;      // in the row while there is no tray
    QList<QPushButton*> m_rowInTabOrder;     // OK, then the tray menu's commands
    QPointer<CAboutDlg> m_about;
    // Made only when a tray is there: Qt picks the kind of tray for good when the first is made.
    CTrayPresence m_trayPresence;
    std::unique_ptr<QMenu> m_pTrayMenu;  // the icon's, outlives it
    std::unique_ptr<QSystemTrayIcon> m_pTray;
    QTimer m_trayPoll;
    QTimer m_trayWait;         // since the start or the tray's going, until the window shows
    bool m_bTrayLost = false;  // a tray was there once: the window shows without taking the focus
    std::function<void()> m_showUpdateWindow;
    // While a tab is added the tab widget may switch tabs; that is no activation.
    bool m_bAddingPage = false;
    int m_iActivePage = -1;  // the page last activated
    bool m_bClosed = false;
    bool m_bReboot = false;
};

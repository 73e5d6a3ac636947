#include "ui/main_sheet.h"

#include <array>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/page_tooltips.h"

namespace {

// The window's caption, also the tray icon's tooltip.
constexpr const char* kCaption = "Kordo Mivex!";

// Room for the six tabs and the largest page.
constexpr QSize kMinimumSize(520, 440);

struct TrayMenuItem {
    int message;  // kMsgNone: a separator
    const char* text;
};

// The tray menu's commands that the button row carries without a tray: "Setup" is the window.
bool InButtonRow(const TrayMenuItem& item) { return item.message != kMsgNone && item.message != kMsgSetup; }

constexpr std::array kTrayMenu = std::to_array<TrayMenuItem>({
    {kMsgSetup, "Setup"},
    {kMsgNone, nullptr},
    {kMsgUpdate, "Update"},
    {kMsgAbout, "About"},
    {kMsgNone, nullptr},
    {kMsgExit, "E&xit"},
});

QSystemTrayIcon::MessageIcon BalloonIcon(int iconKind) {
    switch (iconKind) {
        case 1:
            return QSystemTrayIcon::Information;
        case 2:
            return QSystemTrayIcon::Warning;
        case 3:
            return QSystemTrayIcon::Critical;
        default:
            return QSystemTrayIcon::NoIcon;
    }
}

// The first `limit` characters, without splitting a character that takes two UTF-16 units.
QString Cut(const QString& text, int limit) {
    if (text.size() <= limit) {
        return text;
    }
    const int end = text.at(limit - 1).isHighSurrogate() ? limit - 1 : limit;
    return text.left(end);
}

}  // namespace

CSheetMessage::CSheetMessage(int message, int wParam) : QEvent(EventType()), message(message), wParam(wParam) {}

QEvent::Type CSheetMessage::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostSheetMessage(QObject* sheet, int message, int wParam) {
    QCoreApplication::postEvent(sheet, new CSheetMessage(message, wParam));
}

// A normal top-level window, not a dialog: mutter raises a dialog of a program to the highest layer
// of the program's windows, the floating window's always-on-top one, where it would cover every
// other window while auto click is on.
CmivexDlgMain::CmivexDlgMain(std::atomic<bool>& stopAll, QWidget* parent)
    : QDialog(parent, Qt::Window), m_stopAll(stopAll) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(MivexIcon());
    setMinimumSize(kMinimumSize);
    resize(kMinimumSize);

    m_tabs = new QTabWidget(this);
    m_tabs->setUsesScrollButtons(false);
    m_pNotice = new QLabel(this);
    m_pNotice->setWordWrap(true);
    m_pNotice->setTextFormat(Qt::PlainText);
    m_pNotice->hide();
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    // After OK in the Tab order, as made.
    for (const TrayMenuItem& item : kTrayMenu) {
        if (!InButtonRow(item)) continue;
        QPushButton* button = m_pButtons->addButton(QString::fromLatin1(item.text), QDialogButtonBox::ActionRole);
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));
        connect(button, &QPushButton::clicked, this,
                [this, message = item.message] { PostSheetMessage(this, message); });
        m_trayCommands << button;
    }
    m_rowInTabOrder = QList<QPushButton*>{m_pButtons->button(QDialogButtonBox::Ok)} + m_trayCommands;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_pNotice);
    layout->addWidget(m_pButtons);

    connect(m_pButtons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, &CmivexDlgMain::OnOk);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CmivexDlgMain::OnTabChanged);

    m_trayPoll.setInterval(kTrayPoll);
    connect(&m_trayPoll, &QTimer::timeout, this, &CmivexDlgMain::FollowTray);
    connect(&m_trayPresence, &CTrayPresence::changed, this, [this] {
        if (m_trayPoll.isActive()) FollowTray();  // only once WatchTray began
    });
    m_trayWait.setSingleShot(true);
    connect(&m_trayWait, &QTimer::timeout, this, &CmivexDlgMain::OnTrayWaitOver);
}

CmivexDlgMain::~CmivexDlgMain() = default;

void CmivexDlgMain::AddPage(CMyPropertyPageToolTips* page) {
    m_bAddingPage = true;
    m_tabs->addTab(page, page->windowTitle());
    m_bAddingPage = false;
}

int CmivexDlgMain::PageCount() const { return m_tabs->count(); }

CMyPropertyPageToolTips* CmivexDlgMain::GetPage(int index) const {
    return qobject_cast<CMyPropertyPageToolTips*>(m_tabs->widget(index));
}

bool CmivexDlgMain::SetActivePage(int index) {
    CMyPropertyPageToolTips* page = GetPage(index);
    if (page == nullptr) {
        return false;
    }
    if (m_tabs->currentIndex() == index) {
        OnTabChanged(index);
    } else {
        m_tabs->setCurrentIndex(index);  // activates through OnTabChanged
    }
    return true;
}

int CmivexDlgMain::GetActiveIndex() const { return m_tabs->currentIndex(); }

void CmivexDlgMain::OnTabChanged(int index) {
    if (m_bAddingPage) {
        return;
    }
    if (index != m_iActivePage) {
        if (CMyPropertyPageToolTips* previous = GetPage(m_iActivePage)) {
            previous->OnKillActive();
        }
    }
    m_iActivePage = index;
    if (CMyPropertyPageToolTips* page = GetPage(index)) {
        page->Activate();
    }
    PutButtonRowLast();
}

void CmivexDlgMain::PutButtonRowLast() {
    // Pages make their controls on their first activation, in their own part of the Tab chain, which
    // may lie behind the row. Qt's setTabOrder ignores widgets that take no focus, such as a page or
    // the row itself: the row's buttons follow the chain's last control that takes it.
    QWidget* last = previousInFocusChain();
    while (last != this && (last->focusPolicy() == Qt::NoFocus || m_pButtons->isAncestorOf(last)))
        last = last->previousInFocusChain();
    if (last == this) return;
    QWidget* previous = last;
    for (QPushButton* button : m_rowInTabOrder) setTabOrder(std::exchange(previous, button), button);
    // Tab also stops at the row's own place, as Qt makes the row the focus proxy of its OK. Setting
    // a child as focus proxy moves the row just in front of it.
    if (QWidget* proxy = m_pButtons->focusProxy()) {
        m_pButtons->setFocusProxy(nullptr);
        m_pButtons->setFocusProxy(proxy);
    }
}

void CmivexDlgMain::OnOk() {
    if (CMyPropertyPageToolTips* page = GetPage(GetActiveIndex())) {
        page->OnOK();
    }
}

void CmivexDlgMain::SetAboutDialog(CAboutDlg* about) { m_about = about; }

CAboutDlg* CmivexDlgMain::AboutDialog() const { return m_about; }

void CmivexDlgMain::SetUpdateWindow(std::function<void()> showUpdateWindow) {
    m_showUpdateWindow = std::move(showUpdateWindow);
}

bool CmivexDlgMain::event(QEvent* event) {
    if (event->type() == CSheetMessage::EventType()) {
        const auto* message = static_cast<const CSheetMessage*>(event);
        OnMessage(message->message, message->wParam);
        return true;
    }
    return QDialog::event(event);
}

void CmivexDlgMain::OnMessage(int message, int wParam) {
    switch (message) {
        case kMsgSetup:
            ShowSetup();
            break;
        case kMsgExit:
            CloseProgram();
            break;
        case kMsgAbout:
            ShowAbout();
            break;
        case kMsgUpdate:
            if (m_showUpdateWindow) {
                m_showUpdateWindow();
            }
            break;
        case kMsgHide:
            if (wParam == kHideConfirmed) {
                hide();
            }
            break;
        default:
            break;
    }
}

void CmivexDlgMain::ShowSetup() {
    SetActivePage(0);
    setEnabled(true);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CmivexDlgMain::ShowAbout() {
    if (m_about.isNull()) {
        return;
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void CmivexDlgMain::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void CmivexDlgMain::reject() { hide(); }

bool CmivexDlgMain::TrayIconAdd() {
    if (m_pTray) return true;
    if (!m_trayPresence.Present()) return false;
    m_trayPresence.IconMade();
    m_pTrayMenu = std::make_unique<QMenu>();
    for (const TrayMenuItem& item : kTrayMenu) {
        if (item.message == kMsgNone) {
            m_pTrayMenu->addSeparator();
            continue;
        }
        QAction* action = m_pTrayMenu->addAction(QString::fromLatin1(item.text));
        action->setData(item.message);
        connect(action, &QAction::triggered, this, [this, message = item.message] { PostSheetMessage(this, message); });
    }
    m_pTray = std::make_unique<QSystemTrayIcon>(MivexIcon());
    m_pTray->setToolTip(QString::fromLatin1(kCaption));
    m_pTray->setContextMenu(m_pTrayMenu.get());
    // Queued: an "E&xit" chosen from the menu removes the icon, which must not happen inside the
    // icon's own mouse handler.
    connect(m_pTray.get(), &QSystemTrayIcon::activated, this, &CmivexDlgMain::OnTrayActivated, Qt::QueuedConnection);
    m_pTray->show();
    for (QPushButton* button : m_trayCommands) button->hide();
    return true;
}

void CmivexDlgMain::TrayIconRemove() {
    m_pTray.reset();
    m_pTrayMenu.reset();
    for (QPushButton* button : m_trayCommands) button->show();
}

bool CmivexDlgMain::IsTrayIconShown() const { return m_pTray != nullptr; }

bool CmivexDlgMain::WatchTray(std::chrono::milliseconds wait) {
    m_trayWait.setInterval(wait);
    const bool inTray = TrayIconAdd();
    if (!inTray) m_trayWait.start();
    m_trayPoll.start();
    return inTray;
}

void CmivexDlgMain::FollowTray() {
    if (m_bClosed) return;
    const bool there = m_trayPresence.Present();
    if (there == IsTrayIconShown()) return;
    if (there) {
        TrayIconAdd();
        m_trayWait.stop();
    } else {
        TrayIconRemove();
        m_bTrayLost = true;
        m_trayWait.start();
    }
    emit trayChanged(there);
}

void CmivexDlgMain::OnTrayWaitOver() {
    if (m_bClosed || IsTrayIconShown() || isVisible()) return;
    if (!m_bTrayLost) {
        ShowSetup();
        return;
    }
    // The user did not ask for the window now: it must not take the keyboard from them. Qt reads
    // the attribute only when it makes the native window; once made, the window's property counts.
    const auto withoutFocus = [this](bool on) {
        setAttribute(Qt::WA_ShowWithoutActivating, on);
        if (QWindow* window = windowHandle()) window->setProperty("_q_showWithoutActivating", on);
    };
    withoutFocus(true);
    show();
    withoutFocus(false);
}

void CmivexDlgMain::TrayBalloon(const QString& title, const QString& text, int iconKind, int timeoutMs) {
    const QString shownTitle = Cut(title, kBalloonTitleMax);
    const QString shownText = Cut(text, kBalloonTextMax);
    if (m_pTray) m_pTray->showMessage(shownTitle, shownText, BalloonIcon(iconKind), timeoutMs);
    emit balloonShown(shownTitle, shownText);
}

void CmivexDlgMain::ShowNotice(const QString& text) {
    m_pNotice->setText(text);
    m_pNotice->setAccessibleName(text);
    m_pNotice->setVisible(!text.isEmpty());
}

void CmivexDlgMain::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    // The menu is the tray's to show: Qt opens it on a right click in an XEmbed tray, the desktop
    // in a StatusNotifier tray.
    if (reason == QSystemTrayIcon::Trigger) PostSheetMessage(this, kMsgSetup);
}

void CmivexDlgMain::CloseProgramForRestart() {
    if (!m_bClosed) {
        m_bReboot = true;
    }
    CloseProgram();
}

void CmivexDlgMain::CloseProgram() {
    hide();
    m_trayPoll.stop();
    m_trayWait.stop();
    TrayIconRemove();
    m_stopAll.store(true);
    // Only a running loop is told to end: Qt's quit request made before the loop would make
    // every modal loop until then (a message box about a failed start) return at once.
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(0);
    }
    if (!m_bClosed) {
        m_bClosed = true;
        for (int i = 0; i < PageCount(); ++i) GetPage(i)->OnProgramClosed();
        emit programClosed();
    }
}

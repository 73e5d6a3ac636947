#include "main_sheet.h"

#include <array>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

#include "about_dialog.h"
#include "app_icon.h"
#include "page_tooltips.h"

namespace {

// The window's caption, also the tray icon's tooltip.
constexpr const char* kCaption = "Kordo Mivex!";

// Room for the six tabs and the largest page.
constexpr QSize kMinimumSize(520, 440);

struct TrayMenuItem {
    int message;  // kMsgNone: a separator
    const char* text;
};

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

CmivexDlgMain::CmivexDlgMain(std::atomic<bool>& stopAll, QWidget* parent) : QDialog(parent), m_stopAll(stopAll) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(MivexIcon());
    setMinimumSize(kMinimumSize);
    resize(kMinimumSize);

    m_tabs = new QTabWidget(this);
    m_tabs->setUsesScrollButtons(false);
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    m_pNotice = new QLabel(this);
    m_pNotice->setWordWrap(true);
    m_pNotice->hide();
    layout->addWidget(m_pNotice);
    layout->addWidget(m_pButtons);

    connect(m_pButtons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, &CmivexDlgMain::OnOk);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CmivexDlgMain::OnTabChanged);

    // Queued so that the tray menu's own event loop never runs inside the icon's mouse
    // handler: an "E&xit" chosen there removes the icon.
    connect(&m_tray, &QSystemTrayIcon::activated, this, &CmivexDlgMain::OnTrayActivated, Qt::QueuedConnection);
}

void CmivexDlgMain::AddPage(CMyPropertyPageToolTips* page) {
    m_bAddingPage = true;
    m_tabs->addTab(page, page->windowTitle());
    m_bAddingPage = false;
    // The page's controls joined the end of the window's Tab chain, behind OK: put the button row
    // back last, so that Tab goes from the tab bar into the page and reaches OK after it. The row
    // itself, not just its button: Qt makes the row a focus proxy of its default button, so Tab
    // stops at the row's place in the chain.
    if (QWidget* last = previousInFocusChain(); !m_pButtons->isAncestorOf(last)) setTabOrder(last, m_pButtons);
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
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    m_tray.setIcon(MivexIcon());
    m_tray.setToolTip(QString::fromLatin1(kCaption));
    m_tray.show();
    return true;
}

void CmivexDlgMain::ShowNotice(const QString& text) {
    m_pNotice->setText(text);
    m_pNotice->setAccessibleName(text);
    m_pNotice->show();
}

void CmivexDlgMain::TrayIconRemove() { m_tray.hide(); }

bool CmivexDlgMain::IsTrayIconShown() const { return m_tray.isVisible(); }

void CmivexDlgMain::TrayBalloon(const QString& title, const QString& text, int iconKind, int timeoutMs) {
    const QString shownTitle = Cut(title, kBalloonTitleMax);
    const QString shownText = Cut(text, kBalloonTextMax);
    m_tray.showMessage(shownTitle, shownText, BalloonIcon(iconKind), timeoutMs);
    emit balloonShown(shownTitle, shownText);
}

void CmivexDlgMain::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) {
        PostSheetMessage(this, kMsgSetup);
    } else if (reason == QSystemTrayIcon::Context) {
        ShowTrayMenu();
    }
}

std::unique_ptr<QMenu> CmivexDlgMain::BuildTrayMenu() {
    auto menu = std::make_unique<QMenu>();
    for (const TrayMenuItem& item : kTrayMenu) {
        if (item.message == kMsgNone) {
            menu->addSeparator();
        } else {
            menu->addAction(QString::fromLatin1(item.text))->setData(item.message);
        }
    }
    connect(menu.get(), &QMenu::triggered, this,
            [this](QAction* action) { PostSheetMessage(this, action->data().toInt()); });
    return menu;
}

void CmivexDlgMain::ShowTrayMenu() {
    const std::unique_ptr<QMenu> menu = BuildTrayMenu();
    menu->exec(QCursor::pos());
}

void CmivexDlgMain::CloseProgramForRestart() {
    if (!m_bClosed) {
        m_bReboot = true;
    }
    CloseProgram();
}

void CmivexDlgMain::CloseProgram() {
    hide();
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

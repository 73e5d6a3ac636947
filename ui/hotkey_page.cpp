#include "ui/hotkey_page.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "base/logging.h"
#include "base/settings_mirror.h"
#include "engine/engine_control.h"
#include "output/input_event.h"
#include "output/mouse.h"
#include "ui/control_ids.h"
#include "ui/hotkey_actions.h"
#include "ui/hotkey_ctrl.h"
#include "ui/settings_pages.h"
#include "ui/tooltip_strings.h"

namespace {

using namespace ControlIds;

// The order of start-up, of OK and of letting go.
constexpr std::array kRegistrationOrder = {kHotkeyActivate,     kHotkeyLeft,  kHotkeyMiddle, kHotkeyMiddleLock,
                                           kHotkeyMiddleUnlock, kHotkeyRight, kHotkeyDouble, kHotkeyCentre};
// The order in which a reported combination is looked for.
constexpr std::array kDispatchOrder = [] {
    std::array<int, kHotkeyActions.size()> ids{};
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = kHotkeyActions[i].controlId;
    return ids;
}();

// How to bind the actions without grabs or the desktop's shortcuts: the command line's names.
QString ByCommand() { return QString(CMivexDlgHotkey::kByCommand).arg(QString::fromStdString(HotkeyActionNames())); }

}  // namespace

CMivexDlgHotkey::CMivexDlgHotkey(PageHost& host, std::unique_ptr<IHotkeyGrabber> grabber,
                                 std::unique_ptr<IDesktopShortcuts> shortcuts, QWidget* parent)
    : CMyPropertyPageToolTips(parent),
      m_host(host),
      m_pGrabber(std::move(grabber)),
      m_pShortcuts(std::move(shortcuts)),
      m_bPortal(m_pShortcuts != nullptr && m_pShortcuts->Unavailable().empty()),
      m_bDesktopShortcuts(m_bPortal),
      // In the order of the page's rows.
      m_hotkeys{{
          {kHotkeyActivate, "mouseActive", "Mouse / camera activation Hot key "},
          {kHotkeyLeft, "mouseLeft", "Hot key press \"left mouse key\""},
          {kHotkeyMiddle, "mouseMiddle", "Hot key press \"middle mouse key\""},
          {kHotkeyRight, "mouseRight", "Hot key press \"right mouse key\""},
          {kHotkeyDouble, "mouseLDouble", "Hot key press 2x \"left  mouse key\" double click"},
          {kHotkeyMiddleLock, "mouseMiddleLock", "Hot key \"lock key\""},
          {kHotkeyMiddleUnlock, "mouseMiddleUnlock", "Hot key \"unlock key\""},
          {kHotkeyCentre, "simCentre", "Centre (Set to front)"},
      }} {
    auto* layout = new QVBoxLayout(this);
    const QString way = m_bPortal
                            ? QString(kAsking)
                            : NotDesktopWay(m_pShortcuts ? QString::fromStdString(m_pShortcuts->Unavailable()) : "");
    m_pWay = new QLabel(way, this);
    m_pWay->setWordWrap(true);
    m_pWay->setVisible(!way.isEmpty());
    layout->addWidget(m_pWay);
    m_pDesktopTakesKeys = new QLabel(kDesktopTakesKeys, this);
    m_pDesktopTakesKeys->setWordWrap(true);
    m_pDesktopTakesKeys->setVisible(m_bDesktopShortcuts);
    layout->addWidget(m_pDesktopTakesKeys);
    auto* rows = new QGridLayout;
    int row = 0;
    for (Hotkey& hotkey : m_hotkeys) {
        auto* label = new QLabel(hotkey.label, this);
        hotkey.control = new CHotKeyCtrl(this);
        hotkey.control->SetKeyAt(
            [grabber = m_pGrabber.get()](std::uint32_t scanCode) { return grabber->VirtualKeyAt(scanCode); });
        hotkey.control->SetCheck([this, &hotkey](std::uint32_t word) { return Accepts(hotkey, word); });
        SetControlId(hotkey.control, hotkey.controlId);
        label->setBuddy(hotkey.control);
        hotkey.control->setAccessibleName(hotkey.Name());
        // Under its row, shown only while it has something to say.
        hotkey.note = new QLabel(this);
        hotkey.note->setWordWrap(true);
        hotkey.note->hide();
        rows->addWidget(label, row, 0);
        rows->addWidget(hotkey.control, row, 1);
        rows->addWidget(hotkey.note, row + 1, 0, 1, 2);
        if (m_bPortal) {
            // The third column must not squeeze the field below a combination's length.
            hotkey.control->setMinimumWidth(hotkey.control->fontMetrics().horizontalAdvance("Ctrl+Alt+F12 "));
            hotkey.desktopKeys = new QLabel(this);
            hotkey.desktopKeys->setAccessibleName(hotkey.Name() + ": the desktop's keys");
            hotkey.desktopKeys->setWordWrap(true);
            rows->addWidget(hotkey.desktopKeys, row, 2);
        }
        row += 2;
    }
    rows->setColumnStretch(1, 1);
    layout->addLayout(rows);
    layout->addStretch(1);

    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_retryTimer.setInterval(kRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { OnRetry(); });
    m_pGrabber->SetHandler([this](std::uint16_t vk, std::uint16_t flags) { OnHotKey(vk, flags); });
    // Focus leaving the window (another program's, or the window hidden) ends the recording too.
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        SetRecording(std::ranges::any_of(m_hotkeys, [now](const Hotkey& hotkey) { return hotkey.control == now; }));
    });
    if (!m_bPortal) return;
    m_bindTimer.setSingleShot(true);
    m_bindTimer.setInterval(0);
    connect(&m_bindTimer, &QTimer::timeout, this, [this] { BindShortcuts(); });
    // A desktop's activation is a press of the action's keys.
    m_pShortcuts->SetHandlers({.activated = [this](const std::string& id) { ActivateAction(id); },
                               .bound = [this](const DesktopShortcutsState& state) { OnBound(state); }});
}

CMivexDlgHotkey::~CMivexDlgHotkey() {
    disconnect(m_focusWatch);  // the fields going away move the focus, after the members went
    if (m_pShortcuts) m_pShortcuts->SetHandlers({});
    m_pGrabber->SetHandler({});
    for (int id : kRegistrationOrder) m_pGrabber->Unregister(Find(id).atomName);
}

CMivexDlgHotkey::Hotkey& CMivexDlgHotkey::Find(int controlId) {
    return const_cast<Hotkey&>(std::as_const(*this).Find(controlId));
}

const CMivexDlgHotkey::Hotkey& CMivexDlgHotkey::Find(int controlId) const {
    for (const Hotkey& hotkey : m_hotkeys)
        if (hotkey.controlId == controlId) return hotkey;
    return m_hotkeys.front();  // not reached: every id comes from the tables above
}

CHotKeyCtrl* CMivexDlgHotkey::Control(int controlId) const {
    for (const Hotkey& hotkey : m_hotkeys)
        if (hotkey.controlId == controlId) return hotkey.control;
    return nullptr;
}

QString CMivexDlgHotkey::Note(int controlId) const { return Find(controlId).note->text(); }

QString CMivexDlgHotkey::Way() const { return m_pWay->text(); }

QString CMivexDlgHotkey::DesktopKeys(int controlId) const {
    const QLabel* keys = Find(controlId).desktopKeys;
    return keys != nullptr ? keys->text() : QString();
}

void CMivexDlgHotkey::OnInitDialog() {
    if (m_pShortcuts != nullptr && !m_bDesktopShortcuts)
        Log(QString("Hotkeys: not the desktop's shortcuts: %1")
                .arg(QString::fromStdString(m_pShortcuts->Unavailable())));
    if (!m_bDesktopShortcuts && !m_pGrabber->Unavailable().empty())
        Log(QString("Hotkeys off: global hotkeys need an X11 session (%1)")
                .arg(QString::fromStdString(m_pGrabber->Unavailable())));
    // All shown first: which of two equal stored combinations is grabbed depends on both.
    for (Hotkey& hotkey : m_hotkeys) {
        const auto word = static_cast<std::uint32_t>(m_host.store.Read(hotkey.Key()));
        hotkey.control->SetHotKey(HotkeyVirtualKey(word), HotkeyFlags(word));
    }
    for (int id : kRegistrationOrder)
        if (Find(id).control->HotkeyWord() != 0) RegisterHotkey(Find(id));
    // All eight, also those without keys: the user may give them keys in the desktop's settings.
    if (m_bPortal) BindShortcuts();
    SetToolTipsEnabled(true);
    CMyPropertyPageToolTips::OnInitDialog();
}

void CMivexDlgHotkey::OnSetActive() { m_timer.start(); }

void CMivexDlgHotkey::OnKillActive() { m_timer.stop(); }

void CMivexDlgHotkey::OnOK() {
    for (int id : kRegistrationOrder) RegisterHotkey(Find(id));
    CMyPropertyPageToolTips::OnOK();
}

void CMivexDlgHotkey::OnProgramClosed() {
    m_timer.stop();
    m_retryTimer.stop();
    m_bindTimer.stop();
    if (m_pShortcuts) m_pShortcuts->Close();
    for (int id : kRegistrationOrder) {
        m_pGrabber->Unregister(Find(id).atomName);
        Find(id).grabbed = false;
    }
}

void CMivexDlgHotkey::OnTimer() {
    for (int id : kRegistrationOrder) {
        Hotkey& hotkey = Find(id);
        // A change of another control may also have shadowed this one or freed it.
        const std::uint32_t word = hotkey.control->HotkeyWord();
        const bool unused = !WhyNot(word, ShownBefore(hotkey, word)).isEmpty();
        if (word != hotkey.registered || unused != hotkey.unused) RegisterHotkey(hotkey);
    }
}

void CMivexDlgHotkey::OnRetry() {
    if (m_bRecording) return;  // grabbed again when it ends
    bool failing = false;
    for (int id : kRegistrationOrder) {
        Hotkey& hotkey = Find(id);
        if (hotkey.grabbed || hotkey.registered == 0 || hotkey.unused) continue;
        std::string whyNot;
        hotkey.grabbed = m_pGrabber->Register(hotkey.atomName, HotkeyVirtualKey(hotkey.registered),
                                              HotkeyFlags(hotkey.registered), whyNot);
        if (hotkey.grabbed)
            Log(QString("Hotkey %1 for %2 registered on a later try")
                    .arg(CHotKeyCtrl::Text(hotkey.registered), hotkey.Name()));
        failing = failing || !hotkey.grabbed;
    }
    if (!failing) m_retryTimer.stop();
}

const CMivexDlgHotkey::Hotkey* CMivexDlgHotkey::ShownBefore(const Hotkey& hotkey, std::uint32_t word) const {
    for (int id : kDispatchOrder) {
        const Hotkey& other = Find(id);
        if (&other == &hotkey) return nullptr;
        if (word != 0 && CHotKeyCtrl::SameCombination(other.control->HotkeyWord(), word)) return &other;
    }
    return nullptr;
}

const CMivexDlgHotkey::Hotkey* CMivexDlgHotkey::ShownByAnother(const Hotkey& hotkey, std::uint32_t word) const {
    for (int id : kDispatchOrder) {
        const Hotkey& other = Find(id);
        if (&other != &hotkey && word != 0 && CHotKeyCtrl::SameCombination(other.control->HotkeyWord(), word))
            return &other;
    }
    return nullptr;
}

QString CMivexDlgHotkey::WhyNot(std::uint32_t word, const Hotkey* holder) {
    if (CHotKeyCtrl::IsTypingKeyAlone(word)) return QString(kTypingKey).arg(CHotKeyCtrl::Text(word));
    if (holder != nullptr) return QString(kTakenBy).arg(CHotKeyCtrl::Text(word), holder->Name());
    return {};
}

bool CMivexDlgHotkey::Accepts(Hotkey& hotkey, std::uint32_t word) {
    const QString why = WhyNot(word, ShownByAnother(hotkey, word));
    ShowNote(hotkey, why);
    return why.isEmpty();
}

void CMivexDlgHotkey::ShowNote(Hotkey& hotkey, const QString& text) {
    hotkey.note->setText(text);
    hotkey.note->setVisible(!text.isEmpty());
    hotkey.control->setAccessibleDescription(text);
}

void CMivexDlgHotkey::RegisterHotkey(Hotkey& hotkey) {
    Store(hotkey);
    MarkUnused(hotkey);
    // Also while the grabber has them: the desktop's portal may start later.
    if (m_bPortal) m_bindTimer.start();
    if (!m_bDesktopShortcuts) Grab(hotkey);
}

void CMivexDlgHotkey::Store(Hotkey& hotkey) {
    const std::uint32_t word = hotkey.control->HotkeyWord();
    hotkey.registered = word;
    // Start-up registers what it has just read: no need to write it back.
    if (m_host.store.Read(hotkey.Key()) != static_cast<int>(word))
        m_host.store.Write(hotkey.Key(), static_cast<int>(word));
}

void CMivexDlgHotkey::MarkUnused(Hotkey& hotkey) {
    const QString why = WhyNot(hotkey.registered, ShownBefore(hotkey, hotkey.registered));
    hotkey.unused = !why.isEmpty();
    ShowNote(hotkey, hotkey.unused ? QString(kNotInUse).arg(why) : QString());
    if (hotkey.unused)
        Log(QString("Hotkey %1 for %2 not registered: %3")
                .arg(CHotKeyCtrl::Text(hotkey.registered), hotkey.Name(), why));
}

void CMivexDlgHotkey::Grab(Hotkey& hotkey) {
    m_pGrabber->Unregister(hotkey.atomName);
    hotkey.grabbed = false;
    const std::uint32_t word = hotkey.registered;
    if (word == 0 || hotkey.unused || m_bRecording || !m_pGrabber->Unavailable().empty()) return;
    std::string whyNot;
    hotkey.grabbed = m_pGrabber->Register(hotkey.atomName, HotkeyVirtualKey(word), HotkeyFlags(word), whyNot);
    if (hotkey.grabbed) return;
    Log(QString("Hotkey %1 for %2 not registered: %3")
            .arg(CHotKeyCtrl::Text(word), hotkey.Name(), QString::fromStdString(whyNot)));
    m_retryTimer.start();
}

void CMivexDlgHotkey::SetRecording(bool recording) {
    if (recording == m_bRecording) return;
    m_bRecording = recording;
    if (m_bDesktopShortcuts) return;  // nothing grabbed: the desktop takes the keys first
    for (int id : kRegistrationOrder) {
        Hotkey& hotkey = Find(id);
        if (recording) {
            m_pGrabber->Unregister(hotkey.atomName);
            hotkey.grabbed = false;
        } else {
            Grab(hotkey);
        }
    }
}

void CMivexDlgHotkey::BindShortcuts() {
    std::vector<DesktopShortcut> shortcuts;
    for (const HotkeyAction& action : kHotkeyActions) {
        const Hotkey& hotkey = Find(action.controlId);
        shortcuts.push_back(
            {std::string(action.name), hotkey.Name().toStdString(), hotkey.unused ? 0 : hotkey.registered});
    }
    // The same again could only make the desktop ask the user again.
    if (shortcuts == m_bound) return;
    m_bound = shortcuts;
    m_pShortcuts->Bind(std::move(shortcuts));
}

void CMivexDlgHotkey::OnBound(const DesktopShortcutsState& state) {
    const QString why = QString::fromStdString(state.whyNot);
    const QString detail =
        state.detail.empty() ? QString() : QString(" (%1)").arg(QString::fromStdString(state.detail));
    if (state.unavailable) {
        TakeByDesktop(false);
        m_pWay->setText(NotDesktopWay(why));
        Log(QString("Hotkeys: not the desktop's shortcuts: %1%2").arg(why, detail));
        return;
    }
    TakeByDesktop(true);
    QStringList logged;
    bool any = false;
    for (const HotkeyAction& action : kHotkeyActions) {
        const auto it = state.triggers.find(std::string(action.name));
        const bool has = it != state.triggers.end() && !it->second.empty();
        const QString keys = has ? QString::fromStdString(it->second) : QString("none");
        any = any || has;
        Find(action.controlId).desktopKeys->setText(keys);
        logged << QString::fromUtf8(action.name.data(), static_cast<qsizetype>(action.name.size())) + " " + keys;
    }
    if (state.refused) {
        m_bound.clear();  // a later change or OK asks again
        m_pWay->setText(QString(kRefused).arg(why) + "\n" + ByCommand());
        Log(QString("Hotkeys: the desktop refused the shortcuts: %1%2").arg(why, detail));
    } else if (!any) {
        m_pWay->setText(QString(kBoundNone) + "\n" + ByCommand());
        Log("Hotkeys: the desktop bound none of the shortcuts: " + logged.join(", "));
    } else {
        m_pWay->setText(kDesktopShortcuts);
        Log("Hotkeys are the desktop's shortcuts: " + logged.join(", "));
    }
}

void CMivexDlgHotkey::TakeByDesktop(bool desktop) {
    if (desktop == m_bDesktopShortcuts) return;
    m_bDesktopShortcuts = desktop;
    for (Hotkey& hotkey : m_hotkeys) hotkey.desktopKeys->setVisible(desktop);
    if (!desktop) {
        for (int id : kRegistrationOrder) RegisterHotkey(Find(id));
        return;
    }
    m_retryTimer.stop();
    for (int id : kRegistrationOrder) {
        m_pGrabber->Unregister(Find(id).atomName);
        Find(id).grabbed = false;
    }
}

QString CMivexDlgHotkey::NotDesktopWay(const QString& whyNoDesktop) const {
    QString way;
    if (!m_pGrabber->Unavailable().empty())
        way = kNeedsX11;
    else if (m_pShortcuts != nullptr)  // a Wayland session
        way = kX11InWayland;
    if (m_pShortcuts != nullptr) way += " " + QString(kNoPortal).arg(whyNoDesktop);
    if (!way.isEmpty()) way += "\n" + ByCommand();
    return way;
}

void CMivexDlgHotkey::OnHotKey(std::uint16_t virtualKey, std::uint16_t flags) {
    const std::uint32_t pressed = MakeHotkeyWord(virtualKey, flags);
    for (int id : kDispatchOrder) {
        const std::uint32_t word = Find(id).control->HotkeyWord();
        if (word == 0 || !CHotKeyCtrl::SameCombination(word, pressed)) continue;
        Act(id);
        return;
    }
}

bool CMivexDlgHotkey::ActivateAction(std::string_view name) {
    const HotkeyAction* action = FindHotkeyAction(name);
    if (action == nullptr) return false;
    if (!m_bRecording) Act(action->controlId);
    return true;
}

void CMivexDlgHotkey::Act(int controlId) {
    CSettingsMirror& mirror = m_host.mirror;
    CMouse& mouse = m_host.mouse;
    if (controlId == kHotkeyActivate) {
        if (!mirror.m_bMouseActive) {
            mirror.m_bMouseActive = true;
        } else {
            mirror.m_bMouseActive = false;
            mouse.ReleaseButtons();
        }
        return;
    }
    if (!mirror.m_bMouseActive) return;
    // Arming takes the pointer's lock, which a move step holds throughout: the click is emitted
    // by the next step, never in the middle of one.
    switch (controlId) {
        case kHotkeyLeft:
            mouse.Arm(CMouse::kButtonLeft, CMouse::kClickSingle);
            break;
        case kHotkeyMiddle:
            mouse.Arm(CMouse::kButtonMiddle, CMouse::kClickSingle);
            break;
        case kHotkeyRight:
            mouse.Arm(CMouse::kButtonRight, CMouse::kClickSingle);
            break;
        case kHotkeyDouble:
            mouse.Arm(CMouse::kButtonLeft, CMouse::kClickDouble);
            break;
        case kHotkeyMiddleLock:
            mouse.SendButtonEvent(MOUSEEVENTF_MIDDLEDOWN);
            break;
        case kHotkeyMiddleUnlock:
            ReleaseMiddleButton(mouse);
            break;
        case kHotkeyCentre:
            if (m_host.viewCentre != nullptr) m_host.viewCentre->CentreView();
            m_host.engine.ResetProfile();
            break;
        default:
            break;
    }
}

void CMivexDlgHotkey::Log(const QString& line) const {
    if (m_host.log != nullptr) m_host.log->Write(line.toStdString(), true);
}

#include "hotkey_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "control_ids.h"
#include "engine_control.h"
#include "hotkey_ctrl.h"
#include "input_event.h"
#include "logging.h"
#include "mouse.h"
#include "settings_mirror.h"
#include "settings_pages.h"
#include "tooltip_strings.h"

namespace {

using namespace ControlIds;

// The order of start-up, of OK and of letting go.
constexpr std::array kRegistrationOrder = {kHotkeyActivate,     kHotkeyLeft,  kHotkeyMiddle, kHotkeyMiddleLock,
                                           kHotkeyMiddleUnlock, kHotkeyRight, kHotkeyDouble, kHotkeyCentre};
// The order in which a reported combination is looked for.
constexpr std::array kDispatchOrder = {kHotkeyActivate, kHotkeyLeft,       kHotkeyMiddle,       kHotkeyRight,
                                       kHotkeyDouble,   kHotkeyMiddleLock, kHotkeyMiddleUnlock, kHotkeyCentre};

}  // namespace

CMivexDlgHotkey::CMivexDlgHotkey(PageHost& host, std::unique_ptr<IHotkeyGrabber> grabber, QWidget* parent)
    : CMyPropertyPageToolTips(parent),
      m_host(host),
      m_pGrabber(std::move(grabber)),
      // In the order of the page's rows.
      m_hotkeys{{
          {kHotkeyActivate, &Setting::kHotkeyMouse, "mouseActive", "Mouse / camera activation Hot key "},
          {kHotkeyLeft, &Setting::kHotkeyMouseLeft, "mouseLeft", "Hot key press \"left mouse key\""},
          {kHotkeyMiddle, &Setting::kHotkeyMouseMiddle, "mouseMiddle", "Hot key press \"middle mouse key\""},
          {kHotkeyRight, &Setting::kHotkeyMouseRight, "mouseRight", "Hot key press \"right mouse key\""},
          {kHotkeyDouble, &Setting::kHotkeyMouseLDouble, "mouseLDouble",
           "Hot key press 2x \"left  mouse key\" double click"},
          {kHotkeyMiddleLock, &Setting::kHotkeyMouseMiddleLock, "mouseMiddleLock", "Hot key \"lock key\""},
          {kHotkeyMiddleUnlock, &Setting::kHotkeyMouseMiddleUnlock, "mouseMiddleUnlock", "Hot key \"unlock key\""},
          {kHotkeyCentre, &Setting::kHotkeySimCentre, "simCentre", "Centre (Set to front)"},
      }} {
    auto* layout = new QVBoxLayout(this);
    if (!m_pGrabber->Unavailable().empty()) {
        m_pUnavailable = new QLabel(kNeedsX11, this);
        m_pUnavailable->setWordWrap(true);
        layout->addWidget(m_pUnavailable);
    }
    auto* rows = new QGridLayout;
    int row = 0;
    for (Hotkey& hotkey : m_hotkeys) {
        auto* label = new QLabel(hotkey.label, this);
        hotkey.control = new CHotKeyCtrl(this);
        hotkey.control->SetUnshiftedKey(
            [grabber = m_pGrabber.get()](std::uint32_t scanCode) { return grabber->UnshiftedVirtualKey(scanCode); });
        SetControlId(hotkey.control, hotkey.controlId);
        label->setBuddy(hotkey.control);
        hotkey.control->setAccessibleName(QString(hotkey.label).trimmed());
        rows->addWidget(label, row, 0);
        rows->addWidget(hotkey.control, row, 1);
        ++row;
    }
    rows->setColumnStretch(1, 1);
    layout->addLayout(rows);
    layout->addStretch(1);

    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_pGrabber->SetHandler([this](std::uint16_t vk, std::uint16_t modifiers) { OnHotKey(vk, modifiers); });
}

CMivexDlgHotkey::~CMivexDlgHotkey() {
    m_pGrabber->SetHandler({});
    for (int id : kRegistrationOrder) m_pGrabber->Unregister(Find(id).atomName);
}

CMivexDlgHotkey::Hotkey& CMivexDlgHotkey::Find(int controlId) {
    for (Hotkey& hotkey : m_hotkeys)
        if (hotkey.controlId == controlId) return hotkey;
    return m_hotkeys.front();  // not reached: every id comes from the tables above
}

CHotKeyCtrl* CMivexDlgHotkey::Control(int controlId) const {
    for (const Hotkey& hotkey : m_hotkeys)
        if (hotkey.controlId == controlId) return hotkey.control;
    return nullptr;
}

void CMivexDlgHotkey::OnInitDialog() {
    if (m_pUnavailable != nullptr)
        Log(QString("Hotkeys off: global hotkeys need an X11 session (%1)")
                .arg(QString::fromStdString(m_pGrabber->Unavailable())));
    for (int id : kRegistrationOrder) {
        Hotkey& hotkey = Find(id);
        const auto word = static_cast<std::uint32_t>(m_host.store.Read(*hotkey.key));
        if (word == 0) continue;
        hotkey.control->SetHotKey(HotkeyVirtualKey(word), HotkeyFlags(word));
        RegisterHotkey(hotkey);
    }
    SetToolTipsEnabled(true);
    CMyPropertyPageToolTips::OnInitDialog();
}

void CMivexDlgHotkey::OnSetActive() { m_timer.start(); }

void CMivexDlgHotkey::OnKillActive() { m_timer.stop(); }

void CMivexDlgHotkey::OnOK() {
    for (int id : kRegistrationOrder) RegisterHotkey(Find(id));
    CMyPropertyPageToolTips::OnOK();
}

void CMivexDlgHotkey::OnTimer() {
    for (int id : kRegistrationOrder) {
        Hotkey& hotkey = Find(id);
        if (hotkey.control->HotkeyWord() != hotkey.registered) RegisterHotkey(hotkey);
    }
}

void CMivexDlgHotkey::RegisterHotkey(Hotkey& hotkey) {
    const std::uint32_t word = hotkey.control->HotkeyWord();
    hotkey.registered = word;
    // Start-up registers what it has just read: no need to write it back.
    if (m_host.store.Read(*hotkey.key) != static_cast<int>(word))
        m_host.store.Write(*hotkey.key, static_cast<int>(word));
    m_pGrabber->Unregister(hotkey.atomName);
    if (word == 0 || m_pUnavailable != nullptr) return;
    std::string whyNot;
    if (!m_pGrabber->Register(hotkey.atomName, HotkeyVirtualKey(word), HotkeyModifiers(word), whyNot))
        Log(QString("Hotkey %1 not registered: %2").arg(CHotKeyCtrl::Text(word), QString::fromStdString(whyNot)));
}

void CMivexDlgHotkey::OnHotKey(std::uint16_t virtualKey, std::uint16_t modifiers) {
    for (int id : kDispatchOrder) {
        const std::uint32_t word = Find(id).control->HotkeyWord();
        if (word == 0 || HotkeyVirtualKey(word) != virtualKey || HotkeyModifiers(word) != modifiers) continue;
        Act(id);
        return;
    }
}

void CMivexDlgHotkey::Act(int controlId) {
    CSettingsMirror& mirror = m_host.mirror;
    CMouse& mouse = m_host.mouse;
    if (controlId == kHotkeyActivate) {
        if (!mirror.m_bMouseActive) {
            mirror.m_bMouseActive = true;
        } else {
            mirror.m_bMouseActive = false;
            ReleaseMiddleButton(mouse);
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

#include "ui/dialog_float.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "output/click_sound.h"
#include "output/detect_window.h"
#include "output/mouse.h"
#include "ui/app_icon.h"
#include "ui/control_ids.h"
#include "ui/float_pictures.h"
#include "ui/hover_button.h"
#include "ui/tooltip_strings.h"

// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr const char* kCaption = "Mivex!";
constexpr const char* kProgressName = "Still time left";

// The window's template is laid out in dialog units; one is 1.5 pixels across and 1.625 down
// with the dialog font the layout was made for.
QPoint FromDialogUnits(int x, int y) { return {x * 3 / 2, y * 13 / 8}; }
QSize FromDialogUnits(QSize size) {
    const QPoint p = FromDialogUnits(size.width(), size.height());
    return {p.x(), p.y()};
}

constexpr QSize kWindowUnits(124, 59);
constexpr QPoint kProgressUnits(6, 48);
constexpr QSize kProgressSizeUnits(114, 11);

struct FloatButton {
    int code;  // what a press selects
    int controlId;
    FloatGlyph glyph;
    QPoint units;
    const char* name;
};

// In the order of the selection codes, kPause first, and the wheel last.
constexpr std::array<FloatButton, 8> kFloatButtons{{
    {CDialogFloat::kPause, 1032, FloatGlyph::Pause, {6, 24}, "Pause"},
    {CDialogFloat::kLeft, 1033, FloatGlyph::Left, {6, 0}, "Left button"},
    {CDialogFloat::kMiddle, 1034, FloatGlyph::Middle, {36, 0}, "Middle button"},
    {CDialogFloat::kRight, 1035, FloatGlyph::Right, {66, 0}, "Right button"},
    {CDialogFloat::kSingle, 1038, FloatGlyph::Single, {36, 24}, "Single click"},
    {CDialogFloat::kDouble, 1041, FloatGlyph::Double, {66, 24}, "Double click"},
    {CDialogFloat::kDrag, 1044, FloatGlyph::Drag, {96, 24}, "Drag"},
    {CDialogFloat::kWheel, ControlIds::kWheelButton, FloatGlyph::Wheel, {96, 0}, "Scroll"},
}};

// Where a selection code's button is in kFloatButtons.
constexpr int SlotOf(int code) { return code == CDialogFloat::kWheel ? 7 : code - CDialogFloat::kPause; }

// Where the window goes to an X server (X11, or XWayland in a Wayland session), its type, group
// and state tell the window manager how to treat it. The type of a torn-off menu, which it is much
// like: openbox, mutter and KWin give it a title bar to move it by but no minimise or maximise
// (openbox ignores Motif hints for those, and gives them to normal and utility windows; mutter
// gives a toolbar no title bar), and one transient for no window is not among the tool windows
// KWin hides while another program is active (Qt makes its tool windows transient for the whole
// program). A group of its own: mutter raises a program's dialogs to the highest layer of their
// group, which would put every dialog of the program above all other windows while this one is
// up. Off the taskbar and the pager, as a tool window is. Written before every mapping: a window
// manager drops _NET_WM_STATE when a window is withdrawn, and Qt adds its own states to it.
void MarkForWindowManager(QWidget& window) {
    // The offscreen platform offers an X11 interface too, without a display.
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 != nullptr ? x11->display() : nullptr;
    if (display == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    const auto id = static_cast<::Window>(window.winId());
    const auto atom = [display](const char* name) { return XInternAtom(display, name, False); };
    Atom type = atom("_NET_WM_WINDOW_TYPE_MENU");
    XChangeProperty(display, id, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&type), 1);
    if (XWMHints* hints = XGetWMHints(display, id)) {
        hints->flags |= WindowGroupHint;
        hints->window_group = id;
        XSetWMHints(display, id, hints);
        XFree(hints);
    }

    std::vector<Atom> states;
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom stateProperty = atom("_NET_WM_STATE");
    if (XGetWindowProperty(display, id, stateProperty, 0, 64, False, XA_ATOM, &actualType, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 32)
        states.assign(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + count);
    if (data != nullptr) XFree(data);
    for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
        if (std::find(states.begin(), states.end(), atom(name)) == states.end()) states.push_back(atom(name));
    XChangeProperty(display, id, stateProperty, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(states.data()), static_cast<int>(states.size()));
    XFlush(display);
}

bool OnSomeScreen(const QRect& window) {
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->geometry().intersects(window)) return true;
    return false;
}

}  // namespace

CDialogFloat::CDialogFloat(CSettingsStore& store, CSettingsMirror& mirror, CMouse& mouse, CDetectWindow& detectWindow,
                           IClickSound& sound, Ticks ticks)
    // A title bar without buttons: no minimise, maximise or close. A window, not a Qt tool window,
    // so that it is transient for nothing (see MarkForWindowManager).
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_store(store),
      m_mirror(mirror),
      m_mouse(mouse),
      m_detectWindow(detectWindow),
      m_sound(sound) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(MivexIcon());
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The window is never active, and its one tooltip must show all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(FromDialogUnits(kWindowUnits));
    PlaceAtStoredPosition();

    const qreal density = devicePixelRatioF();
    for (const FloatButton& spec : kFloatButtons) {
        auto* button = new CHoverButton(this);
        button->move(FromDialogUnits(spec.units.x(), spec.units.y()));
        const auto picture = [&](FloatLook look) { return FloatPicture(spec.glyph, look, density); };
        button->LoadBitmaps(picture(FloatLook::Normal), picture(FloatLook::Hover), picture(FloatLook::Active),
                            spec.code == kDrag || spec.code == kWheel ? picture(FloatLook::Alternative) : QPixmap());
        button->setFocusPolicy(Qt::NoFocus);
        button->setAccessibleName(QString::fromLatin1(spec.name));
        SetControlId(button, spec.controlId);
        if (const std::optional<QString> tip = TooltipString(spec.controlId)) button->setToolTip(*tip);
        const int code = spec.code;
        connect(button, &QAbstractButton::clicked, this, [this, code] { Select(code); });
        m_buttons[SlotOf(code)] = button;
    }
    Button(kWheel)->setAccessibleDescription(
        "A rest scrolls where the pointer rests: move the head up, down or sideways, further to scroll faster; "
        "rest with the head back where it began to stop.");
    m_pProgress = new QProgressBar(this);
    m_pProgress->setGeometry(
        QRect(FromDialogUnits(kProgressUnits.x(), kProgressUnits.y()), FromDialogUnits(kProgressSizeUnits)));
    m_pProgress->setTextVisible(false);
    m_pProgress->setAccessibleName(QString::fromLatin1(kProgressName));

    SelectButton(kPause);
    DwellReset();
    SelectKind(kSingle);
    if (ticks == Ticks::Timer) {
        m_pTimer = new QTimer(this);
        connect(m_pTimer, &QTimer::timeout, this, &CDialogFloat::OnDwellTick);
        m_pTimer->start(kTickMs);
    }
}

CDialogFloat::~CDialogFloat() {
    m_mouse.StopScroll();
    m_store.Write(Setting::kFloatLeft, pos().x());
    m_store.Write(Setting::kFloatTop, pos().y());
}

void CDialogFloat::PlaceAtStoredPosition() {
    const QPoint stored(m_store.Read(Setting::kFloatLeft), m_store.Read(Setting::kFloatTop));
    // A screen taken away since the place was stored must not take the window with it.
    move(OnSomeScreen(QRect(stored, size())) ? stored : kDefaultPlace);
}

void CDialogFloat::MoveToDefaultPlace() { move(kDefaultPlace); }

void CDialogFloat::ShowOnScreen() {
    // Iconified by the window manager (a key of its own, "minimise all windows"), the window would
    // be shown iconified again. Clearing the state maps a window that is still up.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
}

void CDialogFloat::showEvent(QShowEvent* event) {
    // Sent before the window is mapped.
    MarkForWindowManager(*this);
    QWidget::showEvent(event);
}

CHoverButton* CDialogFloat::Button(int code) const {
    return (code >= kPause && code <= kDrag) || code == kWheel ? m_buttons[SlotOf(code)] : nullptr;
}

bool CDialogFloat::IsScrolling() const { return m_mouse.Scrolling(); }

void CDialogFloat::closeEvent(QCloseEvent* event) {
    // The "Enable auto click" box decides whether the window is up, not its title bar; the
    // program's own closing of every window (as at the end of a session) goes through.
    if (event->spontaneous())
        event->ignore();
    else
        QWidget::closeEvent(event);
}

void CDialogFloat::Select(int code) {
    if (code <= kRight || code == kWheel)
        SelectButton(code);
    else
        SelectKind(code);
}

void CDialogFloat::SelectButton(int button) {
    EndHeldDrag();
    EndScroll();
    for (int code : {kPause, kLeft, kMiddle, kRight, kWheel}) Button(code)->SetActive(code == button);
    for (int code : {kSingle, kDouble, kDrag}) Button(code)->setEnabled(button != kWheel);
    m_nButton = button;
    if (button == kPause)
        m_nThreshold = m_mirror.m_nAutoClickDelay;
    else
        DwellReset();
}

void CDialogFloat::SelectKind(int kind) {
    EndHeldDrag();
    for (int code : {kSingle, kDouble, kDrag}) Button(code)->SetActive(code == kind);
    m_nKind = kind;
}

void CDialogFloat::EndHeldDrag() {
    if (m_nKind != kDragging) return;
    m_mouse.SetClickType(CMouse::kClickRelease);
    m_mouse.SetButton(m_nButton);  // a drag ends before the button changes
    ShowDragEnded();
}

void CDialogFloat::ShowDragEnded() {
    m_nKind = kDrag;
    Button(kDrag)->SetActive(true);
}

void CDialogFloat::StartScroll() {
    m_mouse.StartScroll();
    m_nStillCount = 0;
    Button(kWheel)->SetAlternative(true);
}

void CDialogFloat::EndScroll() {
    m_mouse.StopScroll();
    ShowScrollEnded();
}

void CDialogFloat::ShowScrollEnded() {
    if (Button(kWheel)->IsAlternative()) Button(kWheel)->SetActive(true);
}

void CDialogFloat::OnScrollTick() {
    // The still count is the ticks in a row that the head has spent back near the start. A head
    // that has not left it yet keeps scrolling ready: the rest that began it must not end it.
    m_nStillCount = m_mouse.ScrollBackAtStart() ? m_nStillCount + 1 : 0;
    m_pProgress->setValue(std::clamp(m_nThreshold - m_nStillCount + 1, 0, m_nThreshold));
    if (m_nStillCount <= m_nThreshold) return;
    PlaySoundIfOn();
    DwellReset();
    SelectButton(kPause);  // which ends scrolling
}

void CDialogFloat::DwellReset() {
    m_detectWindow.Reset();
    const PointerTravel anchor = m_mouse.Travelled();
    m_nAnchorX = anchor.x;
    m_nAnchorY = anchor.y;
    m_nThreshold = m_mirror.m_nAutoClickDelay;
    m_pProgress->setRange(0, m_nThreshold);
}

void CDialogFloat::PlaySoundIfOn() {
    if (m_mirror.m_bAutoClickSound) m_sound.PlayClickSound();
}

int CDialogFloat::HoveredButton() const {
    if (!isVisible()) return 0;
    // From where the pointer really is, so a pointer moved by the program counts as well.
    const QPoint pointer = QCursor::pos();
    // Only where this window is the one the user sees: a menu or notification lying above it
    // hides the button. On X11 the server tells which window is on top at the pointer; under
    // XWayland the desktop's own menus and notifications are not X windows and stay unseen.
    if (QApplication::topLevelAt(pointer) != this) return 0;
    for (const FloatButton& spec : kFloatButtons) {
        const CHoverButton* button = Button(spec.code);
        if (button->rect().contains(button->mapFromGlobal(pointer))) return spec.code;
    }
    return 0;
}

bool CDialogFloat::TrackingAllowsRest() {
    if (!m_trackingStatus || !m_mirror.m_bPauseClicksWithoutFace) {
        m_bNoFace = false;
        return true;
    }
    const CTrackingHealth::State state = m_health.Tick(m_trackingStatus(), m_mirror.m_nClickSettleTime);
    m_bNoFace = state == CTrackingHealth::State::Lost;
    if (state == CTrackingHealth::State::Followed) return true;
    // A click armed on a rest that was no rest would land wherever the pointer was left.
    if (state == CTrackingHealth::State::Lost && m_dwellArm) m_mouse.Disarm(*m_dwellArm);
    m_dwellArm.reset();
    DwellReset();
    return false;
}

void CDialogFloat::ShowBarWords() {
    const char* words = !m_mirror.m_bMouseActive ? kControlOffText : m_bNoFace ? kNoFaceText : nullptr;
    if (words == m_pBarWords) return;
    m_pBarWords = words;
    const QString text = words ? QString::fromLatin1(words) : QString();
    m_pProgress->setFormat(text);
    m_pProgress->setTextVisible(words != nullptr);
    // A bar without a value shows no text.
    if (words) m_pProgress->setValue(m_pProgress->minimum());
    m_pProgress->setAccessibleName(words ? text : QString::fromLatin1(kProgressName));
    m_pProgress->setAccessibleDescription(text);
}

void CDialogFloat::OnDwellTick() {
    using std::chrono::milliseconds;
    // Whether mouse control is on or not, so that the head's coming back is timed all the same.
    const bool restMayCount = TrackingAllowsRest();
    ShowBarWords();
    if (!m_mirror.m_bMouseActive) {
        // Switching mouse control off let go of a held drag's button: the next dwell starts a drag.
        if (m_nKind == kDragging) ShowDragEnded();
        // And it ended scrolling: the next dwell starts scrolling anew.
        EndScroll();
        DwellReset();
        return;
    }
    if (!restMayCount) {
        // A head no longer followed would keep the wheel turning at its last speed.
        if (m_mouse.Scrolling()) EndScroll();
        return;
    }
    if (!m_mouse.IsMoved()) return;
    if (m_mouse.Scrolling()) {
        OnScrollTick();
        return;
    }
    // Control switched off and on again between two ticks ended it too.
    ShowScrollEnded();
    // The pointer's place, or its last move: a steady move is still by the moves alone.
    const bool inPlace = m_mirror.m_bRestInPlace;
    if (inPlace != m_bHistoryInPlace) {
        m_bHistoryInPlace = inPlace;
        DwellReset();
    }
    const PointerTravel place = m_mouse.Travelled();
    const float dx = inPlace ? static_cast<float>(place.x - m_nAnchorX) : m_mouse.GetLastDx();
    const float dy = inPlace ? static_cast<float>(place.y - m_nAnchorY) : m_mouse.GetLastDy();
    m_detectWindow.Push(dx, dy);
    m_nStillCount = m_detectWindow.CountStill(dx, dy);
    m_pProgress->setValue(m_nThreshold - m_nStillCount + 1);
    if (m_nStillCount <= m_nThreshold) return;

    // The still time has run out.
    if (m_nButton != kPause) PlaySoundIfOn();
    if (const int hovered = HoveredButton()) {
        // A kind greyed while the wheel is chosen takes no rest, nor does the window beneath it.
        if (!Button(hovered)->isEnabled()) {
            DwellReset();
            return;
        }
        Select(hovered);
        PlaySoundIfOn();
        DwellReset();
        return;
    }
    if (m_nButton == kPause) {
        DwellReset();
        return;
    }
    if (m_nButton == kWheel) {
        StartScroll();
        DwellReset();
        return;
    }
    switch (m_nKind) {
        case kDrag:
            m_nKind = kDragging;
            m_mouse.SetClickType(CMouse::kClickHold);
            m_mouse.SetButton(m_nButton);
            std::this_thread::sleep_for(milliseconds(kDragSleepMs));
            PlaySoundIfOn();
            DwellReset();
            Button(kDrag)->SetAlternative(true);
            break;
        case kDragging:
            EndHeldDrag();
            PlaySoundIfOn();
            std::this_thread::sleep_for(milliseconds(kDragSleepMs));
            DwellReset();
            SelectButton(kPause);
            break;
        default:
            m_mouse.SetClickType(m_nKind);
            m_mouse.SetButton(m_nButton);
            m_dwellArm = m_mouse.ArmCount();
            DwellReset();
            break;
    }
}

#include "output/mouse.h"

#include <algorithm>

#include "base/truncate.h"

namespace {

// Move steps that drain the old average when the smoothing count changes.
constexpr int kFlushSteps = 10;

struct ButtonFlags {
    std::uint32_t press;
    std::uint32_t release;
};

ButtonFlags FlagsOf(int button) {
    switch (button) {
        case CMouse::kButtonLeft:
            return {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
        case CMouse::kButtonMiddle:
            return {MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP};
        case CMouse::kButtonRight:
            return {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP};
        default:
            return {0, 0};
    }
}

}  // namespace

CMouse::CMouse(IInputInjector& injector, const CSettingsMirror& settings, Clock::time_point (*now)())
    : m_injector(injector), m_settings(settings), m_now(now) {}

CMouse::~CMouse() { ReleaseButtons(); }

void CMouse::Move(float dx, float dy) {
    std::lock_guard lock(m_lock);
    if (m_settings.m_bMouseLimit) {
        dx = static_cast<float>(dx / 6.0);
        dy = static_cast<float>(dy / 6.0);
    }
    // The slider's range is 2..10; anything else that slipped into the mirror must not index
    // past the history or divide by zero.
    const int smoothCount = std::clamp(m_settings.m_nSliderSmoothMouse.load(), 1, CSmoothingHistory::kSize);
    float ax = 0.0f, ay = 0.0f;
    if (smoothCount != m_nSmoothCount) {
        // Carry the rest of the old average down to 0 before the new count applies.
        for (int i = 0; i < kFlushSteps; ++i) {
            Smooth(0.0f, 0.0f, m_nSmoothCount, ax, ay);
            MoveStep(ax, ay);
        }
        m_nSmoothCount = smoothCount;
    }
    Smooth(dx, dy, m_nSmoothCount, ax, ay);
    MoveStep(ax, ay);
}

void CMouse::Smooth(float dx, float dy, int count, float& ax, float& ay) {
    ax = m_historyX.PushAndAverage(dx, count);
    ay = m_historyY.PushAndAverage(dy, count);
}

void CMouse::MoveStep(float ax, float ay) {
    m_bBusy = true;
    if (m_bRepeatPending) {
        SendButtons(m_dwRepeatPress, m_dwRepeatRelease);
        m_bRepeatPending = false;
    }
    m_fLastDx = ax;
    m_fLastDy = ay;
    m_bMoved = true;

    const ButtonFlags flags = FlagsOf(m_nButton);
    // Sent even when both are 0.
    const int dx = TruncateToInt32(ax), dy = TruncateToInt32(ay);
    m_injector.Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, dx, dy));
    m_travel.x += dx;
    m_travel.y += dy;

    if (!m_settings.m_bClicksOff && flags.press != 0) {
        switch (m_nClickType) {
            case kClickHold:
                SendButtons(flags.press, 0);
                break;
            case kClickRelease:
                SendButtons(0, flags.release);
                break;
            default:
                SendButtons(flags.press, flags.release);
                break;
        }
        if (m_nClickType == kClickDouble) {
            m_bRepeatPending = true;
            m_dwRepeatPress = flags.press;
            m_dwRepeatRelease = flags.release;
        }
    }
    if (m_nClickType != kClickHold) m_nButton = kButtonNone;
    m_bBusy = false;
}

void CMouse::SendButtons(std::uint32_t pressFlags, std::uint32_t releaseFlags) {
    m_injector.Send(InputEvent::Mouse(pressFlags));
    m_injector.Send(InputEvent::Mouse(releaseFlags));
}

void CMouse::Arm(int button, int type) {
    std::lock_guard lock(m_lock);
    m_nButton = button;
    m_nClickType = type;
    ++m_nArmCount;
}

void CMouse::SetButton(int button) {
    std::lock_guard lock(m_lock);
    m_nButton = button;
    ++m_nArmCount;
}

bool CMouse::Disarm(unsigned armCount) {
    std::lock_guard lock(m_lock);
    if (armCount != m_nArmCount || m_nButton == kButtonNone) return false;
    if (m_nClickType != kClickSingle && m_nClickType != kClickDouble) return false;
    m_nButton = kButtonNone;
    return true;
}

unsigned CMouse::ArmCount() const {
    std::lock_guard lock(m_lock);
    return m_nArmCount;
}

void CMouse::SetClickType(int type) {
    std::lock_guard lock(m_lock);
    m_nClickType = type;
}

int CMouse::GetButton() const {
    std::lock_guard lock(m_lock);
    return m_nButton;
}

int CMouse::GetClickType() const {
    std::lock_guard lock(m_lock);
    return m_nClickType;
}

void CMouse::SendButtonEvent(std::uint32_t flags) {
    std::lock_guard lock(m_lock);
    m_injector.Send(InputEvent::Mouse(flags));
}

void CMouse::ReleaseButtons() {
    std::lock_guard lock(m_lock);
    m_bScrolling = false;
    if (m_nClickType == kClickHold) {
        // The middle button's release follows in any case.
        if (m_nButton == kButtonLeft || m_nButton == kButtonRight)
            m_injector.Send(InputEvent::Mouse(FlagsOf(m_nButton).release));
        m_nButton = kButtonNone;
        m_nClickType = 0;
    }
    m_injector.Send(InputEvent::Mouse(MOUSEEVENTF_MIDDLEUP));
}

PointerTravel CMouse::Travelled() const {
    std::lock_guard lock(m_lock);
    return m_travel;
}

void CMouse::MoveBack(int dx, int dy) {
    std::lock_guard lock(m_lock);
    m_historyX.Clear();
    m_historyY.Clear();
    if (dx == 0 && dy == 0) return;
    m_injector.Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, dx, dy));
    m_travel.x += dx;
    m_travel.y += dy;
}

void ReleaseMiddleButton(CMouse& mouse) { mouse.SendButtonEvent(MOUSEEVENTF_MIDDLEUP); }

void CMouse::StartScroll() {
    std::lock_guard lock(m_lock);
    m_scroll.Start(m_now());
    m_bScrollBackAtStart = false;
    m_bScrolling = true;
}

void CMouse::StopScroll() {
    std::lock_guard lock(m_lock);
    m_bScrolling = false;
}

void CMouse::Scroll(float dx, float dy) {
    std::lock_guard lock(m_lock);
    if (!m_bScrolling) return;
    const WheelTurn turn = m_scroll.Step(dx, dy, m_now(), m_settings.m_nScrollSpeed);
    m_bScrollBackAtStart = m_scroll.HasLeftStart() && m_scroll.NearStart();
    if (turn.vertical != 0) m_injector.Send(InputEvent::Wheel(MOUSEEVENTF_WHEEL, turn.vertical));
    if (turn.horizontal != 0) m_injector.Send(InputEvent::Wheel(MOUSEEVENTF_HWHEEL, turn.horizontal));
    MoveStep(0.0f, 0.0f);
}

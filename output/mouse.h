// The pointer: per-frame relative motion with smoothing, and the clicks armed beforehand by a
// hotkey or by dwelling, emitted by the next move step. While it scrolls, the pointer is held
// where it is and the head's own motion turns the wheel instead (CHeadScroll).
//
//   CMouse mouse(injector, mirror);
//   mouse.Arm(CMouse::kButtonLeft, CMouse::kClickDouble);   // user-interface thread
//   mouse.Move(dx, dy);                                      // capture thread, once per frame
//   mouse.StartScroll();                                     // user-interface thread
//   mouse.Scroll(headDx, headDy);                            // capture thread, instead of Move
//
// Move runs on the capture thread, and so do MoveBack and the releases of a head gesture that
// switches control off; everything else on the user-interface thread. One lock covers
// a whole Move and every arming call, so a click armed from another thread is emitted by the next
// move step and never in the middle of one; the injector is only reached under that lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/motion_output.h"
#include "base/settings_mirror.h"
#include "output/head_scroll.h"
#include "output/input_injector.h"
#include "output/smoothing_history.h"

class CMouse final : public IPointerOutput {
public:
    // Armed button codes.
    static constexpr int kButtonNone = 1;
    static constexpr int kButtonLeft = 2;
    static constexpr int kButtonMiddle = 3;
    static constexpr int kButtonRight = 4;
    // Click types.
    static constexpr int kClickSingle = 5;
    static constexpr int kClickDouble = 6;
    static constexpr int kClickHold = 7;  // press at every move step until something else is armed
    static constexpr int kClickRelease = 9;

    using Clock = CHeadScroll::Clock;

    // Reads m_nSliderSmoothMouse, m_bMouseLimit and m_bClicksOff from settings at every move, and
    // m_nScrollSpeed at every scroll step. Both must outlive the mouse. now times the scroll steps.
    CMouse(IInputInjector& injector, const CSettingsMirror& settings, Clock::time_point (*now)() = &Clock::now);
    // Lets go of every button (ReleaseButtons).
    ~CMouse();
    CMouse(const CMouse&) = delete;
    CMouse& operator=(const CMouse&) = delete;

    // One frame's motion in pointer units: smoothed, injected as one relative move (truncated
    // toward zero, the fraction lost), followed by the armed click if any.
    void Move(float dx, float dy) override;

    void Arm(int button, int type);
    void SetButton(int button);
    void SetClickType(int type);

    // Takes back a single or double click that was armed by the arming that made `armCount`
    // (ArmCount right after it) and that no move step has emitted yet: false when there is none.
    // Holds and releases are never taken back, so no button is left down.
    bool Disarm(unsigned armCount);
    // How many times a button was armed (Arm, SetButton) so far.
    unsigned ArmCount() const;

    // One mouse event with the given flags, e.g. MOUSEEVENTF_MIDDLEDOWN for the hold hotkey.
    void SendButtonEvent(std::uint32_t flags);
    // Lets go at once of every button the program may hold down: the middle button of the hold
    // hotkey, and the button of a drag (press and hold armed), which is disarmed; and ends
    // scrolling. For switching mouse control off, when no move step would release it.
    void ReleaseButtons() override;

    // Counts every whole move injected, the move steps' and MoveBack's; any thread.
    PointerTravel Travelled() const override;
    // Clears the smoothing history, then injects the move unless it is zero.
    void MoveBack(int dx, int dy) override;

    // Scrolling begins where the head is now; the pointer stays where it is until StopScroll.
    void StartScroll();
    void StopScroll();
    bool Scrolling() const override { return m_bScrolling.load(); }
    // While scrolling: one frame's head motion turns the wheel (CHeadScroll) at m_nScrollSpeed,
    // and the held pointer takes a move step of nothing, which still emits a click armed by a
    // hotkey. Otherwise nothing.
    void Scroll(float dx, float dy) override;
    // While scrolling: the head has left the dead zone round where scrolling began and is back in it.
    bool ScrollBackAtStart() const { return m_bScrollBackAtStart.load(); }

    // The smoothed amounts of the latest move before truncation, read by the dwell logic.
    float GetLastDx() const { return m_fLastDx.load(); }
    float GetLastDy() const { return m_fLastDy.load(); }
    // Where the moves injected so far have taken the pointer, in whole pixels from where it was
    // at the start, edges of the screen not minded: read by the dwell logic.
    // Set by the first move, never cleared.
    bool IsMoved() const { return m_bMoved.load(); }
    // A move step is in progress.
    bool IsBusy() const { return m_bBusy.load(); }

    int GetButton() const;
    int GetClickType() const;

private:
    void Smooth(float dx, float dy, int count, float& ax, float& ay);
    // The parts below run with m_lock held.
    void MoveStep(float ax, float ay);
    // Two mouse events, the first with the press flags, the second with the release flags; a
    // word of 0 gives an event without flags, which changes nothing.
    void SendButtons(std::uint32_t pressFlags, std::uint32_t releaseFlags);

    IInputInjector& m_injector;
    const CSettingsMirror& m_settings;

    mutable std::mutex m_lock;
    int m_nButton = kButtonNone;
    int m_nClickType = 0;
    unsigned m_nArmCount = 0;
    // The second click of a double click, emitted at the start of the next move step.
    bool m_bRepeatPending = false;
    std::uint32_t m_dwRepeatPress = 0;
    std::uint32_t m_dwRepeatRelease = 0;

    std::atomic<bool> m_bBusy{false};
    std::atomic<float> m_fLastDx{0.0f};
    std::atomic<float> m_fLastDy{0.0f};
    std::atomic<bool> m_bMoved{false};
    std::atomic<bool> m_bScrolling{false};
    std::atomic<bool> m_bScrollBackAtStart{false};
    CHeadScroll m_scroll;  // under m_lock
    Clock::time_point (*m_now)();
    PointerTravel m_travel;  // under m_lock

    // Index 0 newest; only Move and MoveBack touch them, under m_lock.
    CSmoothingHistory m_historyX;
    CSmoothingHistory m_historyY;
    int m_nSmoothCount = 2;
};

// Injects MOUSEEVENTF_MIDDLEUP through the mouse.
void ReleaseMiddleButton(CMouse& mouse);

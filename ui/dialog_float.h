// The floating window "Mivex!": a small always-on-top tool window from which auto click takes the
// mouse button to click (left, middle, right, or pause) and the kind of click (single, double,
// drag), or the wheel, with a bar showing how much of the still time is left. Its 100 ms tick
// runs the dwell engine: when the pointer has stayed still for the set time, the chosen click is
// armed in the mouse, or, with the pointer over one of the window's buttons, that button is
// selected. With the wheel chosen a rest starts scrolling by head where the pointer rests, and a
// rest with the head back near where scrolling began ends it and pauses.
//
//   CDialogFloat floating(store, mirror, mouse, detectWindow, sound);  // hidden, at floatLeft/floatTop
//   CThreadFloat shower(floating, mirror, stopAll);                      // shows it while auto click is on
//   ...
//   floating.SelectButton(CDialogFloat::kLeft);
//
// Watching the tracking (WatchTracking), a rest counts only while the head is followed and once it
// has been followed for the settle time; the bar then says when clicks are paused for want of a face.
//
// Lives on the user-interface thread. It never takes the keyboard focus: the user is typing or
// clicking in another program while it is up. It has no minimise or maximise button and stays up
// while other programs are active: a user who has only the pointer could not bring it back. Its
// place is stored when it is destroyed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include <QWidget>

#include "engine/tracking_health.h"

class CDetectWindow;
class CHoverButton;
class CMouse;
class CSettingsStore;
class IClickSound;
class QProgressBar;
class QTimer;
struct CSettingsMirror;

class CDialogFloat : public QWidget {
    Q_OBJECT
public:
    // The selected button: the mouse's button codes, with pause for "no clicking".
    static constexpr int kPause = 1;
    static constexpr int kLeft = 2;
    static constexpr int kMiddle = 3;
    static constexpr int kRight = 4;
    static constexpr int kWheel = 9;  // a rest scrolls; the kinds do not apply
    // The selected kind; kDragging is a drag whose button is held down.
    static constexpr int kSingle = 5;
    static constexpr int kDouble = 6;
    static constexpr int kDrag = 7;
    static constexpr int kDragging = 8;

    static constexpr int kTickMs = 100;
    static constexpr int kDragSleepMs = 100;
    static constexpr QPoint kDefaultPlace{100, 100};
    // What the bar says, and its accessible name, while clicks wait for a face.
    static constexpr const char* kNoFaceText = "No face: clicks paused";
    static constexpr const char* kControlOffText = "Head control off";

    // Manual: the dwell tick runs only when OnDwellTick is called (tests drive it).
    enum class Ticks { Timer, Manual };

    // Everything handed in must outlive the window.
    CDialogFloat(CSettingsStore& store, CSettingsMirror& mirror, CMouse& mouse, CDetectWindow& detectWindow,
                 IClickSound& sound, Ticks ticks = Ticks::Timer);
    // Stores the window's place in floatLeft and floatTop.
    ~CDialogFloat() override;

    // As a press on the pause, left, middle, right or wheel button does. All but pause restart
    // the still time; pause only takes the set delay again. Ends scrolling; the wheel greys the
    // kind buttons.
    void SelectButton(int button);
    // As a press on the single, double or drag button does.
    void SelectKind(int kind);
    // Top left corner at (100, 100), the size kept.
    void MoveToDefaultPlace();
    // Shows the window, out of the iconified state a window manager may have put it in all the same.
    void ShowOnScreen();

    // One 100 ms step of the dwell engine; runs whether the window is shown or not. While head
    // control is off, the bar says so instead of counting.
    void OnDwellTick();

    // Where each dwell tick reads the frame road's state, to count rests only while the head is
    // followed (with "pauseClicksWithoutFace" on). Without it every rest counts.
    void WatchTracking(std::function<EngineStatus()> status) { m_trackingStatus = std::move(status); }
    // The bar says that clicks wait for a face.
    bool ClicksPausedForFace() const { return m_bNoFace; }

    int SelectedButton() const { return m_nButton; }
    int SelectedKind() const { return m_nKind; }
    bool IsScrolling() const;
    // The button with a selection code (kPause .. kDrag, kWheel).
    CHoverButton* Button(int code) const;
    const QProgressBar& Progress() const { return *m_pProgress; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void DwellReset();
    // Ticks the tracking's health: true when this tick's rest may count. Lost, it takes back a
    // click the dwell armed that no frame has carried out yet.
    bool TrackingAllowsRest();
    // The window's button under the real pointer, tested in the order pause, left, middle, right,
    // single, double, drag, wheel; 0 for none.
    int HoveredButton() const;
    void Select(int code);
    void PlaySoundIfOn();
    // A held drag button is let go before the selection changes, so no button stays down.
    void EndHeldDrag();
    // The drag kind selected again, its button no longer held.
    void ShowDragEnded();
    void StartScroll();
    // The pointer moves again; the wheel stays selected.
    void EndScroll();
    // The wheel selected again, no longer scrolling.
    void ShowScrollEnded();
    // The dwell tick while scrolling: a rest with the head near the start ends it and pauses.
    void OnScrollTick();
    void PlaceAtStoredPosition();
    // The bar's words, which say why no rest counts: head control off (a hotkey, the tray, a head
    // shake) before no face followed.
    void ShowBarWords();

    CSettingsStore& m_store;
    CSettingsMirror& m_mirror;
    CMouse& m_mouse;
    CDetectWindow& m_detectWindow;
    IClickSound& m_sound;

    // Pause, left, middle, right, single, double, drag, wheel.
    std::array<CHoverButton*, 8> m_buttons{};
    QProgressBar* m_pProgress = nullptr;
    QTimer* m_pTimer = nullptr;

    int m_nButton = kPause;
    int m_nKind = kSingle;
    int m_nThreshold = 0;
    int m_nStillCount = 0;

    // Counting rests only while the head is followed.
    std::function<EngineStatus()> m_trackingStatus;
    CTrackingHealth m_health;
    bool m_bNoFace = false;
    std::optional<unsigned> m_dwellArm;  // the mouse's arm count after the last click the dwell armed

    // The history holds pointer places (the pointer stays in place) rather than moves; places are
    // kept from where the pointer was at the last reset, so they stay small.
    bool m_bHistoryInPlace = false;
    std::int64_t m_nAnchorX = 0;
    std::int64_t m_nAnchorY = 0;
    const char* m_pBarWords = nullptr;  // what the bar says now, if anything
};

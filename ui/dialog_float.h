// The floating window "Mivex!": a small always-on-top tool window from which auto click takes the
// mouse button to click (left, middle, right, or pause) and the kind of click (single, double,
// drag), with a bar showing how much of the still time is left. Its 100 ms tick runs the dwell
// engine: when the pointer has stayed still for the set time, the chosen click is armed in the
// mouse, or, with the pointer over one of the window's buttons, that button is selected.
//
//   CDialogFloat floating(store, mirror, mouse, detectWindow, sound);  // hidden, at floatLeft/floatTop
//   CThreadFloat shower(floating, mirror, stopAll);                      // shows it while auto click is on
//   ...
//   floating.SelectButton(CDialogFloat::kLeft);
//
// Lives on the user-interface thread. It never takes the keyboard focus: the user is typing or
// clicking in another program while it is up. It has no minimise or maximise button and stays up
// while other programs are active: a user who has only the pointer could not bring it back. Its
// place is stored when it is destroyed.
#pragma once

#include <array>

#include <QWidget>

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
    // The selected kind; kDragging is a drag whose button is held down.
    static constexpr int kSingle = 5;
    static constexpr int kDouble = 6;
    static constexpr int kDrag = 7;
    static constexpr int kDragging = 8;

    static constexpr int kTickMs = 100;
    static constexpr int kDragSleepMs = 100;
    static constexpr QPoint kDefaultPlace{100, 100};

    // Manual: the dwell tick runs only when OnDwellTick is called (tests drive it).
    enum class Ticks { Timer, Manual };

    // Everything handed in must outlive the window.
    CDialogFloat(CSettingsStore& store, CSettingsMirror& mirror, CMouse& mouse, CDetectWindow& detectWindow,
                 IClickSound& sound, Ticks ticks = Ticks::Timer);
    // Stores the window's place in floatLeft and floatTop.
    ~CDialogFloat() override;

    // As a press on the pause, left, middle or right button does. Left, middle and right restart
    // the still time; pause only takes the set delay again.
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

    int SelectedButton() const { return m_nButton; }
    int SelectedKind() const { return m_nKind; }
    // The button with a selection code (kPause .. kDrag).
    CHoverButton* Button(int code) const;
    const QProgressBar& Progress() const { return *m_pProgress; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void DwellReset();
    // The window's button under the real pointer, tested in the order pause, left, middle, right,
    // single, double, drag; 0 for none.
    int HoveredButton() const;
    void Select(int code);
    void PlaySoundIfOn();
    // A held drag button is let go before the selection changes, so no button stays down.
    void EndHeldDrag();
    // The drag kind selected again, its button no longer held.
    void ShowDragEnded();
    void PlaceAtStoredPosition();
    // The bar's words while head control is off (a hotkey, the tray, a head shake).
    void ShowControlOff(bool off);

    CSettingsStore& m_store;
    CSettingsMirror& m_mirror;
    CMouse& m_mouse;
    CDetectWindow& m_detectWindow;
    IClickSound& m_sound;

    // Indexed by code - kPause: pause, left, middle, right, single, double, drag.
    std::array<CHoverButton*, 7> m_buttons{};
    QProgressBar* m_pProgress = nullptr;
    QTimer* m_pTimer = nullptr;

    int m_nButton = kPause;
    int m_nKind = kSingle;
    int m_nThreshold = 0;
    int m_nStillCount = 0;
    bool m_bShowsControlOff = false;
};

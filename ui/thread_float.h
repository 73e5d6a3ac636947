// Shows the floating window while auto click is on and hides it when it goes off, checked every
// 100 ms. Runs as a timer on the user-interface thread, since only that thread may show or hide
// a window; it stops for good once the program-wide stop is set.
//
//   CThreadFloat shower(floating, mirror, engine.StopAll());
//   shower.Start();
#pragma once

#include <atomic>

#include <QObject>
#include <QTimer>

class CDialogFloat;
struct CSettingsMirror;

class CThreadFloat : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 100;

    CThreadFloat(CDialogFloat& window, const CSettingsMirror& mirror, const std::atomic<bool>& stopAll);

    // Does nothing when the stop is already set.
    void Start();
    // One check: shows or hides the window when auto click has changed since the last one.
    void Poll();

private:
    CDialogFloat& m_window;
    const CSettingsMirror& m_mirror;
    const std::atomic<bool>& m_stopAll;
    QTimer m_timer;
    bool m_bShown = false;
};

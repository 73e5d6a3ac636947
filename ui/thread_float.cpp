#include "ui/thread_float.h"

#include "base/settings_mirror.h"
#include "ui/dialog_float.h"

CThreadFloat::CThreadFloat(CDialogFloat& window, const CSettingsMirror& mirror, const std::atomic<bool>& stopAll)
    : m_window(window), m_mirror(mirror), m_stopAll(stopAll) {
    connect(&m_timer, &QTimer::timeout, this, &CThreadFloat::Poll);
}

void CThreadFloat::Start() {
    if (!m_stopAll) m_timer.start(kPollMs);
}

void CThreadFloat::Poll() {
    if (m_stopAll) {
        m_timer.stop();
        return;
    }
    const bool wanted = m_mirror.m_bAutoClick;
    if (wanted && !m_bShown) {
        m_window.ShowOnScreen();
        m_bShown = true;
    } else if (!wanted && m_bShown) {
        m_window.hide();
        m_bShown = false;
    }
}

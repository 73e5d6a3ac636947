// Where the texts the user must see go: a message box on the user-interface thread, or standard
// error when the program runs without dialogs (scripts, tests). Texts that report an error are
// also written to the log.
//
//   CUserMessages messages(CUserMessages::Mode::Dialogs);
//   messages.SetLog(&log);
//   messages.Show("ERROR: no camera detected, or camera in use");   // logged and shown
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "base/message_sink.h"

class CLogging;
class QWidget;

class CUserMessages final : public IMessageSink {
public:
    enum class Mode { Dialogs, StandardError };

    explicit CUserMessages(Mode mode);

    // The log that shown texts also go to; null for none. Set and cleared on the
    // user-interface thread while no worker thread can show a text.
    void SetLog(CLogging* log) { m_pLog = log; }

    // Logs the text, then shows it. On the user-interface thread a message box waits for the
    // user; from another thread the box is queued to the user-interface thread and Show returns.
    void Show(const std::string& text) override;
    // Shows the text without logging it (it is in the log already, or there is no log yet).
    void Display(const std::string& text);
    // Display for a text the user's own action brings up: activate gets the box once shown, to
    // hand it the keyboard focus. On the user-interface thread.
    void DisplayAsked(const std::string& text, const std::function<void(QWidget&)>& activate);

private:
    const Mode m_mode;
    std::atomic<CLogging*> m_pLog{nullptr};
};

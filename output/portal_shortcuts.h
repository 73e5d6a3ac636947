// The desktop's shortcuts through its GlobalShortcuts portal on the D-Bus session bus (KDE
// Plasma, GNOME 48 and later, Hyprland; versions 1 and 2 of the interface): one session of
// shortcuts per Bind, answered through Request objects whose Response signal carries the result.
//
//   CPortalShortcuts shortcuts("mivex");       // the program's menu entry, for the desktop to name it
//   if (shortcuts.Unavailable().empty()) shortcuts.Bind(...);
//
// Made and used on the user-interface thread, whose Qt event loop delivers the portal's answers.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <set>

#include "output/desktop_shortcuts.h"

class QDBusMessage;

// The keys of a hotkey word in the form the portal takes them ("CTRL+ALT+a", "SHIFT+F5"); empty for
// none or a key that has no name here.
std::string PreferredTrigger(std::uint32_t word);

class CPortalShortcuts final : public QObject, public IDesktopShortcuts {
    Q_OBJECT
public:
    static constexpr int kCallTimeoutMs = 10000;  // a portal started on demand takes a moment

    // Registers appId with the host portal registry where there is one (newer portals), then asks
    // the portal for the interface's version; Unavailable() says why it cannot be used.
    explicit CPortalShortcuts(const std::string& appId, QDBusConnection bus = QDBusConnection::sessionBus());
    ~CPortalShortcuts() override;

    const std::string& Unavailable() const override { return m_strUnavailable; }
    // The interface's version the portal offers, 0 when it offers none.
    unsigned Version() const { return m_version; }
    void Bind(std::vector<DesktopShortcut> shortcuts) override;
    void Close() override;
    void SetHandlers(Handlers handlers) override { m_handlers = std::move(handlers); }

private slots:
    void OnResponse(const QDBusMessage& message);
    void OnActivated(const QDBusMessage& message);
    void OnDeactivated(const QDBusMessage& message);
    void OnShortcutsChanged(const QDBusMessage& message);

private:
    enum class Step { Idle, CreateSession, BindShortcuts };

    void CreateSession();
    // Calls a method that answers through a Request object; its Response reaches OnResponse.
    void Request(Step step, const QString& method, QVariantList arguments, QVariantMap options);
    void WatchRequest(const QString& path, bool watch);
    void Report(const DesktopShortcutsState& state);
    void Refused(const std::string& whyNot);
    bool OfOurSession(const QDBusMessage& message) const;

    QDBusConnection m_bus;
    unsigned m_version = 0;
    std::string m_strUnavailable;
    Handlers m_handlers;
    std::vector<DesktopShortcut> m_shortcuts;
    Step m_step = Step::Idle;
    bool m_bBindAgain = false;                      // Bind while a request was under way
    QString m_request;                              // the Request object awaited
    QString m_session;                              // the session of the shortcuts bound last
    std::set<std::string> m_active;                 // activated and not yet deactivated
    std::map<std::string, std::string> m_triggers;  // the desktop's keys of the session's shortcuts
};

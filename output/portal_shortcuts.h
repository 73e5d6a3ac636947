// The desktop's shortcuts through its GlobalShortcuts portal on the D-Bus session bus (KDE
// Plasma, GNOME 48 and later, Hyprland; versions 1 and 2 of the interface): one session of
// shortcuts, under the same handle token in every run, answered through Request objects whose
// Response signal carries the result.
//
//   CPortalShortcuts shortcuts("mivex");       // the program's menu entry, for the desktop to name it
//   shortcuts.SetHandlers(...);
//   if (shortcuts.Unavailable().empty()) shortcuts.Bind(...);   // answered through bound
//
// Made and used on the user-interface thread, whose Qt event loop delivers the portal's answers;
// no call waits for the portal. It follows the portal's bus name: a portal that starts later, or
// anew, is asked again and given the shortcuts of the last Bind.
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <chrono>
#include <optional>

#include "output/desktop_shortcuts.h"

class QDBusMessage;

// The keys of a hotkey word in the form the portal takes them ("CTRL+ALT+a", "SHIFT+F5"); empty for
// none or a key that has no name here.
std::string PreferredTrigger(std::uint32_t word);

class CPortalShortcuts final : public QObject, public IDesktopShortcuts {
    Q_OBJECT
public:
    static constexpr int kCallTimeoutMs = 10000;  // a portal started on demand takes a moment
    // KDE Plasma keeps the keys in a component named after the session's handle token: a token of
    // its own in each run would leave the keys with the component of an earlier run.
    static constexpr const char* kSessionToken = "mivex_shortcuts";
    // A second activation without a release in between is a held key's repeat when it comes
    // sooner than this after the one before, else a new press (desktops that send no release,
    // such as kglobalaccel's own invokeShortcut).
    static constexpr std::chrono::milliseconds kRepeatGap{500};
    // The words for a reply whose D-Bus types are not the interface's.
    static constexpr const char* kUnreadable = "the desktop's answer could not be read";

    // Registers appId with the host portal registry where there is one (newer portals), then asks
    // the portal for the interface's version, without waiting; Unavailable() says only that there
    // is no bus at all.
    explicit CPortalShortcuts(const std::string& appId, QDBusConnection bus = QDBusConnection::sessionBus());
    ~CPortalShortcuts() override;

    const std::string& Unavailable() const override { return m_strUnavailable; }
    // The interface's version the portal offers, 0 before it answered or when it offers none.
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
    enum class Step { Idle, Asking, Closing, CreateSession, BindShortcuts };
    // An activation not yet released: when it came, by the desktop's clock and by ours.
    struct Held {
        std::uint64_t timestamp;
        std::chrono::steady_clock::time_point received;
    };

    // Calls without waiting; `then` sees the reply unless the portal went or Close came meanwhile.
    void Call(const QDBusMessage& call, std::function<void(const QDBusMessage& reply)> then);
    void Ask();
    void OnVersion(const QDBusMessage& reply);
    void OnOwnerChanged(const QString& owner);
    // A session for the shortcuts of the last Bind, after the old one is closed: the token is reused.
    void NewSession();
    // Calls a method that answers through a Request object; its Response reaches OnResponse.
    void Request(Step step, const QString& method, QVariantList arguments, QVariantMap options);
    void WatchRequest(const QString& path, bool watch);
    void OnAnswer(Step step, const QVariantMap& results);
    // Forgets the session and the request awaited; tells the portal to close the session, if any.
    void EndSession();
    void Report(const DesktopShortcutsState& state);
    void Refused(const std::string& whyNot, const std::string& detail, bool unavailable = false);
    bool OfOurSession(const QDBusMessage& message) const;
    void Finished();

    QDBusConnection m_bus;
    std::string m_appId;
    QDBusServiceWatcher m_portalName;
    QString m_portalOwner;  // the process that answered the version
    unsigned m_version = 0;
    std::string m_strUnavailable;
    Handlers m_handlers;
    std::optional<std::vector<DesktopShortcut>> m_shortcuts;  // those of the last Bind, until Close
    Step m_step = Step::Idle;
    unsigned m_generation = 0;  // answers to calls made before the portal changed or Close are dropped
    bool m_bBindAgain = false;  // Bind while a request was under way
    QString m_request;          // the Request object awaited
    QString m_session;          // the session of the shortcuts bound last
    std::map<std::string, Held> m_held;
    std::map<std::string, std::string> m_triggers;  // the desktop's keys of the session's shortcuts
};

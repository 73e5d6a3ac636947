#include "output/portal_shortcuts.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QRandomGenerator>

#include "output/hotkey_grabber.h"
#include "output/virtual_keys.h"

// Xlib last: its macros break Qt's headers.
#include <X11/Xlib.h>

namespace {

const QString kService = "org.freedesktop.portal.Desktop";
const QString kPath = "/org/freedesktop/portal/desktop";
const QString kInterface = "org.freedesktop.portal.GlobalShortcuts";
const QString kRequestInterface = "org.freedesktop.portal.Request";

// a(sa{sv}): each shortcut's id with its properties.
using Shortcuts = QList<QPair<QString, QVariantMap>>;

QString ErrorText(const QDBusMessage& reply) { return reply.errorName() + ": " + reply.errorMessage(); }

// Unique and not guessable, as the portal asks of request and session tokens.
QString NewToken() { return QString("mivex%1").arg(QRandomGenerator::global()->generate()); }

QString PathOf(const QVariant& value) {
    // Version 1 gives the session as a string, though it is an object path.
    return value.userType() == qMetaTypeId<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                                              : value.toString();
}

std::map<std::string, std::string> TriggersOf(const QVariant& shortcuts) {
    std::map<std::string, std::string> triggers;
    for (const auto& [id, properties] : qdbus_cast<Shortcuts>(shortcuts))
        triggers[id.toStdString()] = properties.value("trigger_description").toString().toStdString();
    return triggers;
}

}  // namespace

std::string PreferredTrigger(std::uint32_t word) {
    const unsigned long keysym = VirtualKeyToKeySym(HotkeyVirtualKey(word), (HotkeyFlags(word) & HOTKEYF_EXT) != 0);
    // The names of xkbcommon's key symbols are X's.
    const char* name = keysym == 0 ? nullptr : XKeysymToString(keysym);
    if (name == nullptr) return {};
    const std::uint16_t modifiers = HotkeyModifiers(word);
    std::string trigger;
    if (modifiers & HOTKEYF_CONTROL) trigger += "CTRL+";
    if (modifiers & HOTKEYF_ALT) trigger += "ALT+";
    if (modifiers & HOTKEYF_SHIFT) trigger += "SHIFT+";
    return trigger + name;
}

CPortalShortcuts::CPortalShortcuts(const std::string& appId, QDBusConnection bus) : m_bus(std::move(bus)) {
    qDBusRegisterMetaType<Shortcuts::value_type>();
    qDBusRegisterMetaType<Shortcuts>();
    if (!m_bus.isConnected()) {
        m_strUnavailable = "there is no D-Bus session bus";
        return;
    }
    // Before any other call to the portal, which takes no id afterwards; older portals have no
    // registry and name the program from its process.
    QDBusMessage registration =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.host.portal.Registry", "Register");
    registration << QString::fromStdString(appId) << QVariantMap();
    m_bus.call(registration, QDBus::Block, kCallTimeoutMs);

    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    get << kInterface << QString("version");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_version = reply.arguments().first().value<QDBusVariant>().variant().toUInt();
    if (m_version == 0) {
        m_strUnavailable = "its portal offers none (" + reply.errorName().toStdString() + ")";
        return;
    }
    m_bus.connect(kService, kPath, kInterface, "Activated", this, SLOT(OnActivated(QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, "Deactivated", this, SLOT(OnDeactivated(QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, "ShortcutsChanged", this, SLOT(OnShortcutsChanged(QDBusMessage)));
}

CPortalShortcuts::~CPortalShortcuts() { Close(); }

void CPortalShortcuts::Bind(std::vector<DesktopShortcut> shortcuts) {
    if (!m_strUnavailable.empty()) return;
    m_shortcuts = std::move(shortcuts);
    if (m_step != Step::Idle) {
        m_bBindAgain = true;
        return;
    }
    CreateSession();
}

void CPortalShortcuts::Close() {
    m_triggers.clear();
    if (!m_request.isEmpty()) WatchRequest(m_request, false);
    m_request.clear();
    m_step = Step::Idle;
    m_bBindAgain = false;
    m_active.clear();
    if (m_session.isEmpty()) return;
    m_bus.send(QDBusMessage::createMethodCall(kService, m_session, "org.freedesktop.portal.Session", "Close"));
    m_session.clear();
}

void CPortalShortcuts::CreateSession() {
    // A session binds its shortcuts once: other keys take a new one.
    Close();
    Request(Step::CreateSession, "CreateSession", {}, {{"session_handle_token", NewToken()}});
}

void CPortalShortcuts::Request(Step step, const QString& method, QVariantList arguments, QVariantMap options) {
    // The Request object's path is known before the call, so its Response cannot come first.
    const QString token = NewToken();
    options.insert("handle_token", token);
    const QString sender = m_bus.baseService().mid(1).replace('.', '_');
    const QString expected = kPath + "/request/" + sender + "/" + token;
    m_step = step;
    m_request = expected;
    WatchRequest(expected, true);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments << options);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, expected, method] {
        watcher->deleteLater();
        if (m_request != expected) return;  // closed meanwhile
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage) {
            Close();
            Refused((method + " failed: " + ErrorText(reply)).toStdString());
            return;
        }
        // Portals before version 0.9 chose the path themselves.
        const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (handle.isEmpty() || handle == expected) return;
        WatchRequest(expected, false);
        m_request = handle;
        WatchRequest(handle, true);
    });
}

void CPortalShortcuts::WatchRequest(const QString& path, bool watch) {
    if (watch)
        m_bus.connect(kService, path, kRequestInterface, "Response", this, SLOT(OnResponse(QDBusMessage)));
    else
        m_bus.disconnect(kService, path, kRequestInterface, "Response", this, SLOT(OnResponse(QDBusMessage)));
}

void CPortalShortcuts::OnResponse(const QDBusMessage& message) {
    if (message.path() != m_request || message.arguments().size() < 2) return;
    WatchRequest(m_request, false);
    m_request.clear();
    const Step step = std::exchange(m_step, Step::Idle);
    const unsigned response = message.arguments().at(0).toUInt();
    const QVariantMap results = qdbus_cast<QVariantMap>(message.arguments().at(1));
    const char* call = step == Step::CreateSession ? "CreateSession" : "BindShortcuts";
    if (response != 0) {
        Close();
        Refused(std::string(call) + (response == 1 ? " was cancelled by the user" : " was refused"));
    } else if (step == Step::CreateSession) {
        m_session = PathOf(results.value("session_handle"));
        m_bBindAgain = false;
        Shortcuts shortcuts;
        for (const DesktopShortcut& shortcut : m_shortcuts) {
            QVariantMap properties{{"description", QString::fromStdString(shortcut.description)}};
            if (const std::string trigger = PreferredTrigger(shortcut.hotkey); !trigger.empty())
                properties.insert("preferred_trigger", QString::fromStdString(trigger));
            shortcuts.append({QString::fromStdString(shortcut.id), properties});
        }
        Request(Step::BindShortcuts, "BindShortcuts",
                {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()}, {});
        return;
    } else {
        m_triggers = TriggersOf(results.value("shortcuts"));
        Report({false, {}, m_triggers});
    }
    if (std::exchange(m_bBindAgain, false)) CreateSession();
}

bool CPortalShortcuts::OfOurSession(const QDBusMessage& message) const {
    return !m_session.isEmpty() && PathOf(message.arguments().value(0)) == m_session;
}

void CPortalShortcuts::OnActivated(const QDBusMessage& message) {
    if (!OfOurSession(message)) return;
    const std::string id = message.arguments().value(1).toString().toStdString();
    // Held down: the first activation counts, until the desktop says it ended.
    if (m_active.insert(id).second && m_handlers.activated) m_handlers.activated(id);
}

void CPortalShortcuts::OnDeactivated(const QDBusMessage& message) {
    if (OfOurSession(message)) m_active.erase(message.arguments().value(1).toString().toStdString());
}

void CPortalShortcuts::OnShortcutsChanged(const QDBusMessage& message) {
    if (!OfOurSession(message)) return;
    // It may name only the shortcuts that changed.
    for (auto& [id, trigger] : TriggersOf(message.arguments().value(1))) m_triggers[id] = std::move(trigger);
    Report({false, {}, m_triggers});
}

void CPortalShortcuts::Refused(const std::string& whyNot) { Report({true, whyNot, {}}); }

void CPortalShortcuts::Report(const DesktopShortcutsState& state) {
    if (m_handlers.bound) m_handlers.bound(state);
}

#include "output/portal_shortcuts.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QRandomGenerator>

#include "base/printable_text.h"
#include "output/hotkey_grabber.h"
#include "output/virtual_keys.h"

// Xlib last: its macros break Qt's headers.
#include <X11/Xlib.h>

namespace {

const QString kService = "org.freedesktop.portal.Desktop";
const QString kPath = "/org/freedesktop/portal/desktop";
const QString kInterface = "org.freedesktop.portal.GlobalShortcuts";
const QString kRequestInterface = "org.freedesktop.portal.Request";
const QString kSessionInterface = "org.freedesktop.portal.Session";

// a(sa{sv}): each shortcut's id with its properties.
using Shortcuts = QList<QPair<QString, QVariantMap>>;

std::string DetailOf(const QDBusMessage& reply) {
    return PrintableText((reply.errorName() + ": " + reply.errorMessage()).toStdString());
}

// Unique and not guessable, as the portal asks of request tokens.
QString NewToken() { return QString("mivex%1").arg(QRandomGenerator::global()->generate()); }

template <typename T>
bool Is(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<T>();
}

// A container as the bus delivered it, unread: its signature tells its type before it is read.
bool HasSignature(const QVariant& value, const char* signature) {
    return Is<QDBusArgument>(value) && value.value<QDBusArgument>().currentSignature() == QLatin1String(signature);
}

// An object path; version 1 gives the session as a string.
std::optional<QString> PathOf(const QVariant& value) {
    if (Is<QDBusObjectPath>(value)) return value.value<QDBusObjectPath>().path();
    if (Is<QString>(value)) return value.toString();
    return std::nullopt;
}

std::optional<QVariantMap> MapOf(const QVariant& value) {
    if (!HasSignature(value, "a{sv}")) return std::nullopt;
    return qdbus_cast<QVariantMap>(value);
}

// What the bus delivered, by its D-Bus type: "a(is)", "i".
std::string TypeOf(const QVariant& value) {
    if (Is<QDBusArgument>(value)) return value.value<QDBusArgument>().currentSignature().toStdString();
    const char* type = QDBusMetaType::typeToSignature(value.metaType());
    return type != nullptr ? type : "none";
}

// The keys of each shortcut, made printable; none when a type is not the interface's, with the
// wrong type in `wrong`.
std::optional<std::map<std::string, std::string>> TriggersOf(const QVariant& shortcuts, std::string& wrong) {
    if (!HasSignature(shortcuts, "a(sa{sv})")) {
        wrong = "shortcuts of type " + TypeOf(shortcuts);
        return std::nullopt;
    }
    std::map<std::string, std::string> triggers;
    for (const auto& [id, properties] : qdbus_cast<Shortcuts>(shortcuts)) {
        const QVariant trigger = properties.value("trigger_description", QString());
        if (!Is<QString>(trigger)) {
            wrong = "a trigger_description of type " + TypeOf(trigger);
            return std::nullopt;
        }
        triggers[id.toStdString()] = PrintableText(trigger.toString().toStdString());
    }
    return triggers;
}

QVariant ShortcutsValue(const std::vector<DesktopShortcut>& wanted) {
    Shortcuts shortcuts;
    for (const DesktopShortcut& shortcut : wanted) {
        QVariantMap properties{{"description", QString::fromStdString(shortcut.description)}};
        if (const std::string trigger = PreferredTrigger(shortcut.hotkey); !trigger.empty())
            properties.insert("preferred_trigger", QString::fromStdString(trigger));
        shortcuts.append({QString::fromStdString(shortcut.id), properties});
    }
    return QVariant::fromValue(shortcuts);
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

CPortalShortcuts::CPortalShortcuts(const std::string& appId, QDBusConnection bus)
    : m_bus(std::move(bus)), m_appId(appId) {
    qDBusRegisterMetaType<Shortcuts::value_type>();
    qDBusRegisterMetaType<Shortcuts>();
    if (!m_bus.isConnected()) {
        m_strUnavailable = "there is no D-Bus session bus";
        return;
    }
    // A portal that starts later, or again, is asked afresh.
    m_portalName.setConnection(m_bus);
    m_portalName.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    m_portalName.addWatchedService(kService);
    connect(&m_portalName, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { OnOwnerChanged(owner); });
    // Bound to the name: Qt follows its owner.
    m_bus.connect(kService, kPath, kInterface, "Activated", this, SLOT(OnActivated(QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, "Deactivated", this, SLOT(OnDeactivated(QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, "ShortcutsChanged", this, SLOT(OnShortcutsChanged(QDBusMessage)));
    Ask();
}

CPortalShortcuts::~CPortalShortcuts() { Close(); }

void CPortalShortcuts::Call(const QDBusMessage& call, std::function<void(const QDBusMessage& reply)> then) {
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, generation = m_generation, then = std::move(then)] {
                watcher->deleteLater();
                if (generation == m_generation) then(watcher->reply());
            });
}

void CPortalShortcuts::Ask() {
    m_step = Step::Asking;
    // Before any other call to the portal, which takes no id afterwards; older portals have no
    // registry and name the program from its process.
    QDBusMessage registration =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.host.portal.Registry", "Register");
    registration << QString::fromStdString(m_appId) << QVariantMap();
    Call(registration, [this](const QDBusMessage&) {
        QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
        get << kInterface << QString("version");
        Call(get, [this](const QDBusMessage& reply) { OnVersion(reply); });
    });
}

void CPortalShortcuts::OnVersion(const QDBusMessage& reply) {
    m_step = Step::Idle;
    m_version = 0;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QString error = reply.errorName();
        const bool noPortal = error == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                              error == "org.freedesktop.DBus.Error.NameHasNoOwner";
        Refused(noPortal ? "no desktop portal runs" : "this desktop offers no global shortcuts to programs yet",
                DetailOf(reply), true);
        return;
    }
    const QVariant answer = reply.arguments().value(0);
    const QVariant version = Is<QDBusVariant>(answer) ? answer.value<QDBusVariant>().variant() : QVariant();
    // The interface says u; a signed one is read as what it says.
    const qlonglong number = Is<uint>(version) ? qlonglong{version.toUInt()} : Is<int>(version) ? version.toInt() : -1;
    if (number < 0) {
        const std::string shown = Is<int>(version) ? std::to_string(version.toInt()) : "of type " + TypeOf(version);
        Refused(kUnreadable, "version " + shown, true);
        return;
    }
    if (number == 0) {
        Refused("this desktop offers no global shortcuts to programs yet", "version 0", true);
        return;
    }
    m_portalOwner = reply.service();
    m_version = static_cast<unsigned>(number);
    if (m_shortcuts) NewSession();
}

void CPortalShortcuts::OnOwnerChanged(const QString& owner) {
    // The portal that answered already: its start as the first call woke it.
    if (!owner.isEmpty() && owner == m_portalOwner) return;
    // The session went with the old process.
    ++m_generation;
    m_session.clear();
    EndSession();
    m_portalOwner.clear();
    m_version = 0;
    m_bBindAgain = false;
    if (owner.isEmpty()) {
        m_step = Step::Idle;
        Refused("the desktop's portal stopped", "", true);
        return;
    }
    Ask();
}

void CPortalShortcuts::Bind(std::vector<DesktopShortcut> shortcuts) {
    if (!m_strUnavailable.empty()) return;
    m_shortcuts = std::move(shortcuts);
    if (m_version == 0 || m_step == Step::Asking) return;  // bound once the portal answers
    if (m_step != Step::Idle) {
        m_bBindAgain = true;
        return;
    }
    NewSession();
}

void CPortalShortcuts::Close() {
    ++m_generation;
    EndSession();
    m_shortcuts.reset();
    m_bBindAgain = false;
    m_step = Step::Idle;
}

void CPortalShortcuts::EndSession() {
    m_triggers.clear();
    m_held.clear();
    if (!m_request.isEmpty()) WatchRequest(m_request, false);
    m_request.clear();
    if (m_session.isEmpty()) return;
    m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, "Close"));
    m_session.clear();
}

void CPortalShortcuts::NewSession() {
    m_bBindAgain = false;
    const auto create = [this] {
        QVariantMap options{{"session_handle_token", QString(kSessionToken)}};
        // Version 1 backends (KDE Plasma before 6.1) bind only the shortcuts given here.
        if (m_version == 1) options.insert("shortcuts", ShortcutsValue(*m_shortcuts));
        // Known before the answer, so that a session whose answer goes wrong is closed all the same.
        m_session = kPath + "/session/" + m_bus.baseService().mid(1).replace('.', '_') + "/" + kSessionToken;
        Request(Step::CreateSession, "CreateSession", {}, options);
    };
    if (m_session.isEmpty()) {
        create();
        return;
    }
    // The token is the old session's: it must be gone first.
    const QString session = std::exchange(m_session, QString());
    EndSession();
    m_step = Step::Closing;
    Call(QDBusMessage::createMethodCall(kService, session, kSessionInterface, "Close"),
         [create](const QDBusMessage&) { create(); });
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
    Call(call, [this, expected, method](const QDBusMessage& reply) {
        if (m_request != expected) return;  // answered or ended meanwhile
        if (reply.type() != QDBusMessage::ReplyMessage) {
            EndSession();
            Refused((method + " failed").toStdString(), DetailOf(reply));
            Finished();
            return;
        }
        // Portals before version 0.9 chose the path themselves.
        const QVariant handle = reply.arguments().value(0);
        const QString path = Is<QDBusObjectPath>(handle) ? handle.value<QDBusObjectPath>().path() : QString();
        if (path.isEmpty() || path == expected) return;
        WatchRequest(expected, false);
        m_request = path;
        WatchRequest(path, true);
    });
}

void CPortalShortcuts::WatchRequest(const QString& path, bool watch) {
    if (watch)
        m_bus.connect(kService, path, kRequestInterface, "Response", this, SLOT(OnResponse(QDBusMessage)));
    else
        m_bus.disconnect(kService, path, kRequestInterface, "Response", this, SLOT(OnResponse(QDBusMessage)));
}

void CPortalShortcuts::OnResponse(const QDBusMessage& message) {
    if (message.path() != m_request) return;
    WatchRequest(m_request, false);
    m_request.clear();
    const Step step = std::exchange(m_step, Step::Idle);
    const QVariantList arguments = message.arguments();
    const std::optional<QVariantMap> results = MapOf(arguments.value(1));
    const char* call = step == Step::CreateSession ? "CreateSession" : "BindShortcuts";
    if (arguments.size() != 2 || !Is<uint>(arguments.at(0)) || !results) {
        EndSession();
        Refused(kUnreadable, std::string(call) + " answered " + message.signature().toStdString());
    } else if (const uint response = arguments.at(0).toUInt(); response != 0) {
        EndSession();
        Refused(std::string(call) + (response == 1 ? " was cancelled by the user" : " was refused"), "");
    } else {
        OnAnswer(step, *results);
    }
    Finished();
}

void CPortalShortcuts::OnAnswer(Step step, const QVariantMap& results) {
    const char* call = step == Step::CreateSession ? "CreateSession" : "BindShortcuts";
    if (step == Step::CreateSession) {
        const std::optional<QString> session = PathOf(results.value("session_handle"));
        if (!session || session->isEmpty()) {
            Refused(kUnreadable, "CreateSession gave no session handle");
            return;
        }
        m_session = *session;
    }
    const QVariant shortcuts = results.value("shortcuts");
    std::string wrong;
    std::optional<std::map<std::string, std::string>> triggers =
        shortcuts.isValid() ? TriggersOf(shortcuts, wrong) : std::map<std::string, std::string>();
    if (!triggers) {
        EndSession();
        Refused(kUnreadable, std::string(call) + " gave " + wrong);
        return;
    }
    // A session that took the shortcuts as it was made needs no binding: on KDE Plasma 5.27 that
    // would only open its System Settings, at every start.
    if (step == Step::CreateSession && triggers->empty()) {
        Request(Step::BindShortcuts, "BindShortcuts",
                {QVariant::fromValue(QDBusObjectPath(m_session)), ShortcutsValue(*m_shortcuts), QString()}, {});
        return;
    }
    m_triggers = std::move(*triggers);
    Report({.triggers = m_triggers});
}

void CPortalShortcuts::Finished() {
    if (m_step == Step::Idle && m_bBindAgain && m_shortcuts) NewSession();
}

bool CPortalShortcuts::OfOurSession(const QDBusMessage& message) const {
    return !m_session.isEmpty() && PathOf(message.arguments().value(0)) == m_session;
}

void CPortalShortcuts::OnActivated(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (!OfOurSession(message) || !Is<QString>(arguments.value(1)) || !Is<qulonglong>(arguments.value(2))) return;
    const std::string id = arguments.at(1).toString().toStdString();
    const Held now{arguments.at(2).toULongLong(), std::chrono::steady_clock::now()};
    const auto before = m_held.find(id);
    bool press = before == m_held.end();
    if (!press) {
        // The desktop's clock (milliseconds) where it gives one, else the time of arrival.
        const Held& last = before->second;
        press = last.timestamp != 0 && now.timestamp > last.timestamp
                    ? now.timestamp - last.timestamp > static_cast<std::uint64_t>(kRepeatGap.count())
                    : now.received - last.received > kRepeatGap;
    }
    m_held.insert_or_assign(id, now);
    if (press && m_handlers.activated) m_handlers.activated(id);
}

void CPortalShortcuts::OnDeactivated(const QDBusMessage& message) {
    if (OfOurSession(message) && Is<QString>(message.arguments().value(1)))
        m_held.erase(message.arguments().at(1).toString().toStdString());
}

void CPortalShortcuts::OnShortcutsChanged(const QDBusMessage& message) {
    if (!OfOurSession(message)) return;
    // A change that cannot be read leaves the keys known as they were.
    std::string wrong;
    const std::optional<std::map<std::string, std::string>> changed = TriggersOf(message.arguments().value(1), wrong);
    if (!changed) return;
    // It may name only the shortcuts that changed.
    for (const auto& [id, trigger] : *changed) m_triggers[id] = trigger;
    Report({.triggers = m_triggers});
}

void CPortalShortcuts::Refused(const std::string& whyNot, const std::string& detail, bool unavailable) {
    Report({.refused = true, .unavailable = unavailable, .whyNot = whyNot, .detail = detail});
}

void CPortalShortcuts::Report(const DesktopShortcutsState& state) {
    if (m_handlers.bound) m_handlers.bound(state);
}

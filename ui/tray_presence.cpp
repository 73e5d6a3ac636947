#include "ui/tray_presence.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QString>

// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include <X11/Xlib.h>

namespace {

const QString kWatcherService = "org.kde.StatusNotifierWatcher";
const QString kWatcherPath = "/StatusNotifierWatcher";
// A watcher without a host has nowhere to show icons; Qt asks the same property.
const QString kHostRegistered = "IsStatusNotifierHostRegistered";
// A hung watcher must not keep the answer for D-Bus's default 25 s.
constexpr int kWatcherTimeoutMs = 1000;

// The tray's manager owns the selection _NET_SYSTEM_TRAY_S<screen> while it runs.
bool XEmbedTrayOnDisplay() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (display == nullptr) return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, name.constData(), False)) != 0;
}

}  // namespace

CTrayPresence::CTrayPresence(QObject* parent) : QObject(parent), m_bus(QDBusConnection::sessionBus()) {
    if (!m_bus.isConnected()) return;
    m_watcherName.setConnection(m_bus);
    m_watcherName.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    m_watcherName.addWatchedService(kWatcherService);
    connect(&m_watcherName, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty())
                    SetHost(false);
                else
                    AskHost();
            });
    m_bus.connect(kWatcherService, kWatcherPath, kWatcherService, "StatusNotifierHostRegistered", this,
                  SLOT(OnHostRegistered()));
    m_bus.connect(kWatcherService, kWatcherPath, kWatcherService, "StatusNotifierHostUnregistered", this,
                  SLOT(OnHostUnregistered()));
    AskHost();
}

void CTrayPresence::OnHostRegistered() { SetHost(true); }

// Another host may remain: ask.
void CTrayPresence::OnHostUnregistered() { AskHost(); }

void CTrayPresence::AskHost() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcherService << kHostRegistered;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(get, kWatcherTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, asked = ++m_asked] {
        call->deleteLater();
        if (asked != m_asked) return;
        const QDBusMessage reply = call->reply();
        const QVariant answer = reply.arguments().value(0);
        const bool isVariant = answer.metaType() == QMetaType::fromType<QDBusVariant>();
        const QVariant host = isVariant ? answer.value<QDBusVariant>().variant() : QVariant();
        SetHost(reply.type() == QDBusMessage::ReplyMessage && host.metaType() == QMetaType::fromType<bool>() &&
                host.toBool());
    });
}

void CTrayPresence::SetHost(bool host) {
    ++m_asked;  // a question still out is older than this
    if (host == m_bHost) return;
    m_bHost = host;
    emit changed();
}

bool CTrayPresence::Offered(Kind kind) const { return kind == Kind::StatusNotifier ? m_bHost : XEmbedTrayOnDisplay(); }

bool CTrayPresence::Present() const {
    if (m_chosen) return Offered(*m_chosen);
    return Offered(Kind::StatusNotifier) || Offered(Kind::XEmbed);
}

void CTrayPresence::IconMade() {
    // Qt prefers the watcher when both are there.
    if (!m_chosen) m_chosen = Offered(Kind::StatusNotifier) ? Kind::StatusNotifier : Kind::XEmbed;
}

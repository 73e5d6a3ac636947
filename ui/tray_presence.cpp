#include "ui/tray_presence.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QString>

// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include <X11/Xlib.h>

namespace {

constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
// A watcher without a host has nowhere to show icons; Qt asks the same property.
constexpr const char* kHostRegistered = "IsStatusNotifierHostRegistered";
// A hung watcher must not freeze the window for D-Bus's default 25 s.
constexpr int kWatcherTimeoutMs = 1000;

bool StatusNotifierHostOnBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(QString::fromLatin1(kWatcherService))) return false;
    QDBusMessage get =
        QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(kWatcherService) << QString::fromLatin1(kHostRegistered);
    const QDBusMessage reply = bus.call(get, QDBus::Block, kWatcherTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

// The tray's manager owns the selection _NET_SYSTEM_TRAY_S<screen> while it runs.
bool XEmbedTrayOnDisplay() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (display == nullptr) return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, name.constData(), False)) != 0;
}

}  // namespace

bool CTrayPresence::Offered(Kind kind) {
    return kind == Kind::StatusNotifier ? StatusNotifierHostOnBus() : XEmbedTrayOnDisplay();
}

bool CTrayPresence::Present() const {
    if (m_chosen) return Offered(*m_chosen);
    return Offered(Kind::StatusNotifier) || Offered(Kind::XEmbed);
}

void CTrayPresence::IconMade() {
    // Qt prefers the watcher when both are there.
    if (!m_chosen) m_chosen = Offered(Kind::StatusNotifier) ? Kind::StatusNotifier : Kind::XEmbed;
}

// Whether this desktop has a tray for the program's icon, followed for the whole run: at login the
// desktop's panel often starts after the program, and a panel may stop and come back. Two kinds of
// tray exist: a StatusNotifier watcher with a host on the session bus (KDE Plasma, GNOME with the
// AppIndicator extension, most Wayland panels) and an XEmbed tray on the X display (other X11
// desktops). Qt 6.4 chooses between them once, the first time a tray icon is made or
// QSystemTrayIcon::isSystemTrayAvailable() is asked, and keeps that choice for the whole run; an
// icon made before the watcher started would never reach it. So the program makes no icon and
// asks Qt nothing before Present() is true, and from its first icon on only the kind Qt chose
// then counts.
//
// The watcher is followed by its bus name and its signals, and asked without waiting: Present()
// never calls the bus, and changed() says when the watcher's answer changed it. The XEmbed tray's
// selection has no signal here: Present() asks the X server, a short local round trip.
//
//   CTrayPresence tray;
//   connect(&tray, &CTrayPresence::changed, ...);
//   if (tray.Present()) { tray.IconMade(); auto icon = std::make_unique<QSystemTrayIcon>(); ... }
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <optional>

class QDBusMessage;

class CTrayPresence final : public QObject {
    Q_OBJECT
public:
    // Follows the watcher on the session bus, if there is one.
    explicit CTrayPresence(QObject* parent = nullptr);

    // A tray of the kind the program's icons use, or before the first icon, of either kind.
    bool Present() const;
    // Call when an icon is made while Present(): fixes the kind as Qt fixes it.
    void IconMade();

signals:
    // The StatusNotifier watcher came, went, or its host did: Present() may say otherwise now.
    void changed();

private slots:
    void OnHostRegistered();
    void OnHostUnregistered();

private:
    enum class Kind { StatusNotifier, XEmbed };
    bool Offered(Kind kind) const;
    void AskHost();
    void SetHost(bool host);

    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcherName;
    bool m_bHost = false;          // the watcher said it has a host, last time it was asked
    unsigned m_asked = 0;          // answers to older questions are dropped
    std::optional<Kind> m_chosen;  // none before the first icon
};

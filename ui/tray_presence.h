// Whether this desktop has a tray for the program's icon, asked afresh each time: at login the
// desktop's panel often starts after the program, and a panel may stop and come back. Two kinds of
// tray exist: a StatusNotifier watcher with a host on the session bus (KDE Plasma, GNOME with the
// AppIndicator extension, most Wayland panels) and an XEmbed tray on the X display (other X11
// desktops). Qt 6.4 chooses between them once, the first time a tray icon is made or
// QSystemTrayIcon::isSystemTrayAvailable() is asked, and keeps that choice for the whole run; an
// icon made before the watcher started would never reach it. So the program makes no icon and
// asks Qt nothing before Present() is true, and from its first icon on only the kind Qt chose
// then counts.
//
//   CTrayPresence tray;
//   if (tray.Present()) { tray.IconMade(); auto icon = std::make_unique<QSystemTrayIcon>(); ... }
#pragma once

#include <optional>

class CTrayPresence {
public:
    // A tray of the kind the program's icons use, or before the first icon, of either kind.
    bool Present() const;
    // Call when an icon is made while Present(): fixes the kind as Qt fixes it.
    void IconMade();

private:
    enum class Kind { StatusNotifier, XEmbed };
    static bool Offered(Kind kind);

    std::optional<Kind> m_chosen;  // none before the first icon
};

// The running copy's door on the desktop's session bus: a second start asks it to show its
// settings window, and `mivex --action NAME` asks it for a hotkey's action, through the standard
// org.freedesktop.Application interface. The single-instance lock decides which copy runs; the
// bus is only the way to talk to it, and without a bus the program runs as it did before.
//
//   CApplicationBus bus({.activate = ..., .action = ...});
//   if (!bus.Offer(error)) log(error);             // the running copy
//   AskRunningCopyToShow(token, error);             // a second start
//   AskRunningCopyForAction("left-click", error);   // the command line
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// The program's own bus name, and the object path the interface's convention derives from it.
inline constexpr const char* kBusName = "com.kordo.Mivex";
inline constexpr const char* kBusPath = "/com/kordo/Mivex";

// What the desktop gave this start so that its window may come to the front past focus-stealing
// prevention: the Wayland activation token, the X11 startup id. Qt takes both out of the
// environment once it has used them, so they are read before it starts.
struct ActivationToken {
    std::string activationToken;  // XDG_ACTIVATION_TOKEN
    std::string startupId;        // DESKTOP_STARTUP_ID

    static ActivationToken FromEnvironment();
};

class CApplicationBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    struct Handlers {
        std::function<void(const ActivationToken&)> activate;  // show the settings window
        std::function<bool(std::string_view)> action;          // false: no such action
    };

    explicit CApplicationBus(Handlers handlers);
    // Gives the name up, so that a copy started next can take it.
    ~CApplicationBus() override;
    CApplicationBus(const CApplicationBus&) = delete;
    CApplicationBus& operator=(const CApplicationBus&) = delete;

    // Takes the name and offers the object on the session bus; false, with the reason in error,
    // when there is no session bus or the name is another's.
    bool Offer(std::string& error);

public slots:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    Q_SCRIPTABLE void ActivateAction(const QString& name, const QVariantList& parameter,
                                     const QVariantMap& platformData);

private:
    Handlers m_handlers;
    bool m_bOffered = false;
};

// Makes every D-Bus connection of this process, and of the programs it starts, use the bus the
// session names: DBUS_SESSION_BUS_ADDRESS, else the socket $XDG_RUNTIME_DIR/bus. Without either,
// D-Bus's library would launch a bus of its own through X11 (dbus-launch), leave it running and
// find no running copy on it; here the connection fails and says there is no session bus. Called
// first thing, before any connection is made.
void UseOnlyTheSessionsBus();

// Both ask the copy that holds the single-instance lock on lockFile, and only when it owns the
// bus name: another program of the user's may own it, and must not stand in for the running copy.
// Asks the running copy to bring its settings window to the front, handing on the token. False,
// with the reason in error, when no copy answers.
bool AskRunningCopyToShow(const ActivationToken& token, const std::filesystem::path& lockFile, std::string& error);
// Asks the running copy for the named hotkey action. False, with the reason in error, when no
// copy answers or it refuses.
bool AskRunningCopyForAction(std::string_view action, const std::filesystem::path& lockFile, std::string& error);

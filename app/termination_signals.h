// Turns the signals that end or restart the program into requests on the user-interface thread,
// so that they take the same orderly path as the menu: SIGTERM, SIGINT and SIGHUP ask to exit,
// SIGUSR1 asks to restart. A signal handler may do next to nothing, so it only writes the signal
// number into a pipe that the event loop watches.
//
//   CTerminationSignals::Install();         // first thing in main: no signal finds its default
//   ...start-up...
//   CTerminationSignals signals;            // the requests since Install arrive now; one per process
//   QObject::connect(&signals, &CTerminationSignals::exitRequested, ...);
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class CTerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; a signal that comes before a CTerminationSignals exists waits in the
    // pipe for it. Needs no Qt object; harmless when called again.
    static void Install();

    CTerminationSignals();
    ~CTerminationSignals() override;

signals:
    void exitRequested();
    void restartRequested();

private:
    void OnSignalReady();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Turns the signals that end or restart the program into requests on the user-interface thread,
// so that they take the same orderly path as the menu: SIGTERM, SIGINT and SIGHUP ask to exit,
// SIGUSR1 asks to restart. A signal handler may do next to nothing, so it only writes the signal
// number into a pipe that the event loop watches.
//
//   CTerminationSignals::Block();           // the first line of main: requests wait from here on
//   CTerminationSignals::Install();         // the handler; the requests that waited arrive now
//   ...start-up...
//   CTerminationSignals signals;            // the requests since Install arrive now; one per process
//   QObject::connect(&signals, &CTerminationSignals::exitRequested, ...);
#pragma once

#include <signal.h>

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class CTerminationSignals : public QObject {
    Q_OBJECT
public:
    // The signals this class turns into requests. A restarted copy is started with them blocked,
    // so that a request sent while it loads waits for its handler instead of ending it.
    static sigset_t Signals();
    // Blocks them in the calling thread (and in the threads it starts), or unblocks them; a signal
    // that comes while they are blocked waits.
    static void Block();
    static void Unblock();
    // Installs the handlers, then unblocks the signals; a signal that comes before a
    // CTerminationSignals exists waits in the pipe for it. Needs no Qt object; harmless when
    // called again.
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

// Turns the signals that end or restart the program into requests on the user-interface thread,
// so that they take the same orderly path as the menu: SIGTERM, SIGINT and SIGHUP ask to exit,
// SIGUSR1 asks to restart. A signal handler may do next to nothing, so it only writes the signal
// number into a pipe that the event loop watches.
//
//   CTerminationSignals signals;            // handlers installed; one object per process
//   QObject::connect(&signals, &CTerminationSignals::exitRequested, ...);
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class CTerminationSignals : public QObject {
    Q_OBJECT
public:
    CTerminationSignals();
    ~CTerminationSignals() override;

signals:
    void exitRequested();
    void restartRequested();

private:
    void OnSignalReady();

    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

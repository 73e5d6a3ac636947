#include "app/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kExitSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kRestartSignal = SIGUSR1;

// For the life of the process: a signal may come at any time, up to the very end.
int g_pipe[2] = {-1, -1};

void OnSignal(int number) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request; dropping this one loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void SetHandler(int number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
}

}  // namespace

sigset_t CTerminationSignals::Signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int number : kExitSignals) sigaddset(&set, number);
    sigaddset(&set, kRestartSignal);
    return set;
}

void CTerminationSignals::Block() {
    const sigset_t set = Signals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void CTerminationSignals::Unblock() {
    const sigset_t set = Signals();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void CTerminationSignals::Install() {
    // Without a pipe the signals keep their default.
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        for (int number : kExitSignals) SetHandler(number, OnSignal);
        SetHandler(kRestartSignal, OnSignal);
    }
    Unblock();
}

CTerminationSignals::CTerminationSignals() {
    Install();
    if (g_pipe[0] < 0) return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CTerminationSignals::OnSignalReady);
}

// The handlers stay: a signal while the program ends must not end it out of order. Requests then
// wait in the pipe, unread.
CTerminationSignals::~CTerminationSignals() = default;

void CTerminationSignals::OnSignalReady() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (byte == kRestartSignal)
            emit restartRequested();
        else
            emit exitRequested();
    }
}

#include "termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kExitSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kRestartSignal = SIGUSR1;

int g_writeEnd = -1;

void OnSignal(int number) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request; dropping this one loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

void SetHandler(int number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
}

}  // namespace

CTerminationSignals::CTerminationSignals() {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the signals keep their default
    g_writeEnd = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CTerminationSignals::OnSignalReady);
    for (int number : kExitSignals) SetHandler(number, OnSignal);
    SetHandler(kRestartSignal, OnSignal);
}

CTerminationSignals::~CTerminationSignals() {
    if (m_pipe[0] < 0) return;
    for (int number : kExitSignals) SetHandler(number, SIG_DFL);
    SetHandler(kRestartSignal, SIG_DFL);
    m_notifier.reset();
    g_writeEnd = -1;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void CTerminationSignals::OnSignalReady() {
    unsigned char byte = 0;
    while (::read(m_pipe[0], &byte, 1) == 1) {
        if (byte == kRestartSignal)
            emit restartRequested();
        else
            emit exitRequested();
    }
}

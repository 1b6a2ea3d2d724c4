#include "app/terminationsignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

int pipeFds[2] = { -1, -1 };
constexpr std::array<int, 3> Handled = { SIGTERM, SIGHUP, SIGINT };

extern "C" void onSignal(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    // Nothing to do when the pipe is full: a wake-up is already pending.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : Handled)
        ::sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction action
    {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s : Handled)
        ::sigaction(s, &action, nullptr);
    delete m_notifier;
    for (int &fd : pipeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TerminationSignals::readPipe()
{
    char bytes[16];
    ssize_t n;
    while ((n = ::read(pipeFds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit received(int(bytes[i]));
    }
}

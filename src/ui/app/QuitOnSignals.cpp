#include "app/QuitOnSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end for the handler; a signal handler can reach nothing else.
volatile sig_atomic_t writeEndForHandler = -1;

void noteSignal(int signal)
{
    const int savedErrno = errno;
    const char number = char(signal);
    // Non-blocking: should the pair ever be full, a quit is pending anyway.
    [[maybe_unused]] const ssize_t written = ::write(writeEndForHandler, &number, 1);
    errno = savedErrno;
}

} // namespace

QuitOnSignals::QuitOnSignals(QObject *parent)
    : QObject(parent)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0)
        return; // the signals keep their default: ending the process at once
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    writeEndForHandler = m_writeEnd;
    m_notifier = std::make_unique<QSocketNotifier>(m_readEnd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &QuitOnSignals::readSignals);

    struct sigaction action = {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i) {
        ::sigaction(handledSignals[i], nullptr, &m_previous[i]);
        // Ignored by who started us (nohup, a background job): stays ignored.
        if (m_previous[i].sa_handler != SIG_IGN)
            ::sigaction(handledSignals[i], &action, nullptr);
    }
}

QuitOnSignals::~QuitOnSignals()
{
    if (m_readEnd < 0)
        return;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &m_previous[i], nullptr);
    writeEndForHandler = -1;
    m_notifier.reset();
    ::close(m_readEnd);
    ::close(m_writeEnd);
}

void QuitOnSignals::readSignals()
{
    char numbers[64];
    ssize_t count = 0;
    while ((count = ::read(m_readEnd, numbers, sizeof numbers)) > 0)
        m_received += int(count);
    if (m_received == 0)
        return;
    if (m_received == 1)
        QCoreApplication::quit();
    else
        QCoreApplication::exit(0);
}

#include "endingsignals.h"

#include <QSocketNotifier>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace orbelant {

#if defined(Q_OS_UNIX)

namespace {

constexpr int EndingSignalNumbers[] = {SIGTERM, SIGHUP, SIGINT};
int pipeEnds[2] = {-1, -1}; // read by the event loop, written by the handler

// Only what a signal handler may do: one write(2), errno left as it was.
void writeToPipe(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &byte, 1);
    errno = saved;
}

void setHandler(int number, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
}

bool ignored(int number)
{
    struct sigaction current = {};
    return sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

EndingSignals::EndingSignals(QObject *parent) : QObject(parent)
{
    // Without the pipe the signals keep their default: the program ends at once.
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        emit endRequested();
    });
    for (const int number : EndingSignalNumbers)
        if (!ignored(number))
            setHandler(number, writeToPipe);
}

EndingSignals::~EndingSignals()
{
    if (!m_notifier)
        return;
    for (const int number : EndingSignalNumbers)
        if (!ignored(number))
            setHandler(number, SIG_DFL);
    delete m_notifier;
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

#else

EndingSignals::EndingSignals(QObject *parent) : QObject(parent) {}
EndingSignals::~EndingSignals() = default;

#endif

} // namespace orbelant

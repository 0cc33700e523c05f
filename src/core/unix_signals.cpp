#include "unix_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = { -1, -1 };

// A hang-up (the terminal closed, or a service manager's reload) ends a
// program as cleanly as an interrupt or a termination does.
const int EndingSignals[] = { SIGHUP, SIGINT, SIGTERM };

void HandleSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[0], &byte, 1);
}

} // namespace

UnixSignals::UnixSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0)
        return;
    m_notifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignals::readSignal);

    struct sigaction action = {};
    action.sa_handler = HandleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : EndingSignals)
        sigaction(number, &action, nullptr);
}

UnixSignals::~UnixSignals()
{
    for (int number : EndingSignals)
        signal(number, SIG_DFL);
}

QString UnixSignals::name(int signalNumber)
{
    switch (signalNumber) {
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    }
    return QStringLiteral("signal %1").arg(signalNumber);
}

void UnixSignals::readSignal()
{
    unsigned char byte = 0;
    if (::read(SignalPipe[1], &byte, 1) == 1)
        Q_EMIT terminationRequested(byte);
}

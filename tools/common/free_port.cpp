#include "free_port.h"

#include <QRandomGenerator>
#include <QTcpServer>

namespace {

// Below the kernel's range for the local ports of outgoing connections (32768 and up on Linux):
// a port from there could be taken by some client's connection before the program under test
// gets to listen on it.
constexpr quint16 FirstPort = 20000;
constexpr quint16 LastPort = 32000;

bool Listen(QTcpServer &server)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(FirstPort, LastPort + 1));
        if (server.listen(QHostAddress::LocalHost, port))
            return true;
    }
    return false;
}

} // namespace

quint16 FreeLoopbackPort()
{
    return FreeLoopbackPortPair().first;
}

std::pair<quint16, quint16> FreeLoopbackPortPair()
{
    // Both held at once, so that the same port cannot come out twice.
    QTcpServer first;
    QTcpServer second;
    if (!Listen(first) || !Listen(second))
        return { 0, 0 };
    return { first.serverPort(), second.serverPort() };
}

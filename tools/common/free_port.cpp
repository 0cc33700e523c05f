#include "free_port.h"

#include <QTcpServer>

quint16 FreeLoopbackPort()
{
    return FreeLoopbackPortPair().first;
}

std::pair<quint16, quint16> FreeLoopbackPortPair()
{
    // Both held at once, so that the kernel cannot pick the same port twice.
    QTcpServer first;
    QTcpServer second;
    if (!first.listen(QHostAddress::LocalHost, 0) || !second.listen(QHostAddress::LocalHost, 0))
        return { 0, 0 };
    return { first.serverPort(), second.serverPort() };
}

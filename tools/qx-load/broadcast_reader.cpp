#include "broadcast_reader.h"

#include "tagged_message.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

// The server closes a broadcast client that has sent nothing for 60 s.
constexpr std::chrono::seconds KeepAliveInterval { 20 };

} // namespace

BroadcastReader::BroadcastReader(quint16 port, bool reads, QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
    , m_keepAlive(new QTimer(this))
{
    connect(m_keepAlive, &QTimer::timeout, this, [this] {
        if (isConnected()) // not after the server has closed it
            m_socket->write("\n");
    });
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_keepAlive->start(KeepAliveInterval);
        Q_EMIT connected();
    });
    if (reads) {
        connect(m_socket, &QTcpSocket::readyRead, this, [this] {
            m_input += m_socket->readAll();
            qsizetype at = 0;
            for (qsizetype end; (end = m_input.indexOf("\r\n", at)) >= 0; at = end + 2)
                takeLine(m_input.mid(at, end - at));
            m_input.remove(0, at);
            Q_EMIT progressed();
        });
    } else {
        m_socket->setReadBufferSize(1); // once full, nothing more is taken from the kernel
    }
    m_socket->connectToHost(QHostAddress::LocalHost, port);
}

bool BroadcastReader::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void BroadcastReader::takeLine(const QByteArray &line)
{
    const std::optional<quint32> number = TaggedMessage::numberOfLine(line);
    if (!number) {
        ++m_foreign;
    } else if (*number < m_next) {
        ++m_outOfOrder;
    } else {
        if (*number > m_next)
            m_gaps.append({ m_next, *number - 1 });
        m_next = *number + 1;
    }
}

QString BroadcastReader::judge(quint32 end, const QList<Range> &lostWithDevice) const
{
    if (m_foreign > 0 || m_outOfOrder > 0)
        return QStringLiteral("%1 lines that are no numbered broadcast, %2 out of order or twice")
            .arg(m_foreign)
            .arg(m_outOfOrder);
    QList<Range> gaps = m_gaps;
    if (m_next < end)
        gaps.append({ m_next, end - 1 });
    for (const Range &gap : std::as_const(gaps)) {
        if (std::none_of(lostWithDevice.cbegin(), lostWithDevice.cend(), [&gap](const Range &lost) {
                return gap.first >= lost.first && gap.last == lost.last;
            }))
            return QStringLiteral("broadcasts %1 to %2 lost").arg(gap.first).arg(gap.last);
    }
    return QString();
}

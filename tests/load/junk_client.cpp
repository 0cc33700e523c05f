#include "junk_client.h"

#include "line_connection.h"
#include "load_tally.h"

#include <QTimer>

namespace {

constexpr char HexDigits[] = "0123456789abcdefABCDEF";

// Random bytes that are neither hex digits nor CR.
QByteArray NoiseWithoutDigits(QRandomGenerator &random, int length)
{
    QByteArray noise;
    while (noise.size() < length) {
        const char byte = char(random.bounded(256));
        if (byte != '\r' && !QByteArray(HexDigits).contains(byte))
            noise.append(byte);
    }
    return noise;
}

} // namespace

JunkClient::JunkClient(int seed, quint16 port, LoadTally &tally, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_tally(tally)
    , m_random(quint32(seed) * 7919u + 1)
{ }

QByteArray JunkClient::junkLine(int kind, QRandomGenerator &random)
{
    switch (kind % 7) {
    case 0:
        return "\r";
    case 1:
        return "218\r"; // three digits
    case 2:
        return "2181A\r"; // odd count
    case 3:
        return "0123456789ABCDEF01\r"; // eighteen digits
    case 4:
        return "0x21 0x81 0xA0\r"; // nine digits
    case 5:
        return "GHIJ KLMN, xyz!\r"; // no digit at all
    default: {
        // Noise with an odd number of digits strewn in.
        QByteArray line = NoiseWithoutDigits(random, 20);
        const int digits = 1 + 2 * random.bounded(8);
        for (int i = 0; i < digits; ++i)
            line.insert(random.bounded(line.size() + 1), HexDigits[random.bounded(22)]);
        return line + '\r';
    }
    }
}

void JunkClient::start()
{
    connectNow();
}

void JunkClient::stop()
{
    m_stopping = true;
    if (m_connection)
        m_connection->close();
}

void JunkClient::connectNow()
{
    if (m_stopping)
        return;
    if (m_connection)
        m_connection->deleteLater();
    m_connection = new LineConnection(this);
    m_sentOnConnection = 0;
    m_waiting = false;
    connect(m_connection, &LineConnection::connected, this, &JunkClient::sendNext);
    connect(m_connection, &LineConnection::lineReceived, this, &JunkClient::takeLine);
    connect(m_connection, &LineConnection::closed, this, [this](const QByteArray &rest) {
        if (rest == RefusalText()) {
            ++m_tally.refused;
        } else if (m_waiting) {
            ++m_tally.junkWrong;
            m_tally.note(QStringLiteral("junk client: connection ended before 6180E1"));
        }
        if (!m_stopping)
            QTimer::singleShot(ReconnectDelayMs, this, &JunkClient::connectNow);
    });
    m_connection->open(m_port);
}

void JunkClient::sendNext()
{
    if (m_stopping)
        return;
    if (m_sentOnConnection++ >= LinesPerConnection) {
        m_connection->close();
        QTimer::singleShot(ReconnectDelayMs, this, &JunkClient::connectNow);
        return;
    }
    m_waiting = true;
    ++m_tally.junkLines;
    m_connection->send(junkLine(m_random.bounded(1000), m_random));
}

void JunkClient::takeLine(const QByteArray &line)
{
    if (!m_waiting || line != "6180E1") {
        ++m_tally.junkWrong;
        m_tally.note(QStringLiteral("junk client got %1").arg(QString::fromLatin1(line.left(40))));
    }
    m_waiting = false;
    sendNext();
}

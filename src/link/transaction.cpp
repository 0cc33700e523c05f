#include "transaction.h"

#include "core/clock.h"
#include "core/logging.h"
#include "core/server_state.h"
#include "link/receive_buffer.h"
#include "link/serial_link.h"

#include <QTimer>
#include <optional>
#include <utility>

namespace {

QByteArray Hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toUpper();
}

const QByteArray AnswerPrefix("\xFF\xFE", 2);

} // namespace

Transaction::Transaction(ServerState &state, SerialLink &link, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_link(link)
    , m_clock(clock)
    , m_passTimer(new QTimer(this))
{
    m_passTimer->setInterval(PassInterval);
    connect(m_passTimer, &QTimer::timeout, this, &Transaction::runPass);
    connect(&m_link, &SerialLink::bytesArrived, this, &Transaction::runPass);
}

void Transaction::SendData(const QByteArray &data, Done done)
{
    Q_ASSERT_X(!m_open, "Transaction::SendData", "a transaction is already open");
    if (m_open) {
        qCWarning(lcLink).noquote()
            << "request" << Hex(data) << "refused: another transaction is open";
        deliver(std::move(done), ReceiveBuffer::TimeoutAnswer());
        return;
    }
    m_state.WaitAnswer = true;
    if (!m_link.isOpen()) {
        m_state.WaitAnswer = false;
        qCDebug(lcFrames).noquote() << "request" << Hex(data) << "not sent: port closed";
        deliver(std::move(done), ReceiveBuffer::TimeoutAnswer());
        return;
    }
    m_open = true;
    m_done = std::move(done);
    ReceiveBuffer::DropStaleAnswers(m_state.InpStr);
    const QByteArray frame = AnswerPrefix + data;
    qCDebug(lcFrames).noquote() << ">>" << Hex(frame);
    m_link.write(frame);
    m_start = m_clock.seconds();
    m_limit = m_state.ProgMode ? ProgModeAnswerLimitSeconds : AnswerLimitSeconds;
    m_timedOut = false;
    m_passTimer->start();
}

void Transaction::abort()
{
    if (!m_open)
        return;
    qCDebug(lcLink) << "open transaction aborted";
    complete(ReceiveBuffer::TimeoutAnswer());
}

void Transaction::runPass()
{
    if (!m_open)
        return;
    if (m_clock.seconds() - m_start >= m_limit)
        m_timedOut = true;
    if (std::optional<QByteArray> answer = ReceiveBuffer::TakeAnswer(m_state.InpStr)) {
        qCDebug(lcFrames).noquote() << "answer" << Hex(*answer);
        complete(*answer);
    } else if (m_timedOut) {
        qCDebug(lcFrames) << "no answer within" << m_limit << "s";
        complete(ReceiveBuffer::TimeoutAnswer());
    }
}

void Transaction::complete(const QByteArray &answer)
{
    m_open = false;
    m_state.WaitAnswer = false;
    m_passTimer->stop();
    deliver(std::exchange(m_done, nullptr), answer);
}

void Transaction::deliver(Done done, const QByteArray &answer)
{
    if (!done)
        return;
    QTimer::singleShot(0, this, [done = std::move(done), answer] { done(answer); });
}

#include "transaction.h"

#include "core/clock.h"
#include "core/hex_line.h"
#include "core/logging.h"
#include "core/protocol.h"
#include "core/server_state.h"
#include "link/serial_link.h"

#include <QTimer>
#include <utility>

Transaction::Transaction(ServerState &state, SerialLink &link, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_link(link)
    , m_clock(clock)
    , m_passTimer(new QTimer(this))
{
    m_passTimer->setSingleShot(true);
    m_passTimer->setTimerType(Qt::PreciseTimer);
    connect(m_passTimer, &QTimer::timeout, this, &Transaction::runPass);
    connect(&m_link, &SerialLink::answerReceived, this, &Transaction::takeAnswer);
    connect(&m_link, &SerialLink::deviceLost, this, &Transaction::endOnLoss);
}

void Transaction::SendData(const QByteArray &data, Done done)
{
    Q_ASSERT_X(!isOpen(), "Transaction::SendData", "a transaction is already open");
    if (isOpen()) {
        qCWarning(lcLink).noquote()
            << "request" << SpacedHex(data) << "refused: another transaction is open";
        deliver(std::move(done), Protocol::TimeoutAnswer(), Delivery::Queued);
        return;
    }
    if (!m_link.isOpen()) {
        setLineState(State::Idle);
        qCDebug(lcFrames).noquote() << "request" << SpacedHex(data) << "not sent: port closed";
        deliver(std::move(done), Protocol::TimeoutAnswer(), Delivery::Queued);
        return;
    }
    m_request = data;
    m_done = done ? std::move(done) : [](const QByteArray &) {};
    m_state.WaitAnswer = true;
    if (m_lineState == State::LateAnswerGuard && guardStillHolds()) {
        qCDebug(lcFrames).noquote() << "request" << SpacedHex(data) << "held until the guard ends";
        return;
    }
    writeRequest();
}

void Transaction::abort()
{
    setLineState(State::Idle);
    m_passTimer->stop();
    if (!isOpen())
        return;
    qCDebug(lcLink) << "open transaction aborted";
    complete(Protocol::TimeoutAnswer(), Delivery::Queued);
}

void Transaction::endOnLoss()
{
    // No answer can come on a line that is gone: the caller hears so now, not at the limit
    // (which is 60 s in programming mode), and the search can begin.
    m_passTimer->stop();
    setLineState(State::Idle);
    if (!isOpen())
        return;
    qCDebug(lcFrames).noquote() << "no answer to" << SpacedHex(m_request)
                                << ": the device was lost";
    complete(Protocol::TimeoutAnswer(), Delivery::Queued);
}

void Transaction::writeRequest()
{
    const QByteArray frame = Protocol::AnswerFramePrefix() + m_request;
    qCDebug(lcFrames).noquote() << ">>" << SpacedHex(frame);
    m_limitMs = (m_state.ProgMode ? Protocol::ProgModeAnswerLimit : Protocol::AnswerLimit).count();
    m_deadlineMs = now() + m_limitMs;
    setLineState(State::WaitingForAnswer);
    m_link.write(frame);
    scheduleNextPass();
}

void Transaction::setLineState(State state)
{
    m_lineState = state;
    if (m_state.Link != LinkState::Searching)
        m_state.Link = state;
}

void Transaction::takeAnswer(const QByteArray &message)
{
    switch (m_lineState) {
    case State::WaitingForAnswer:
        setLineState(State::Idle);
        m_passTimer->stop();
        complete(message);
        return;
    case State::LateAnswerGuard:
        qCDebug(lcFrames).noquote() << "late answer" << SpacedHex(message) << "dropped";
        endGuard();
        return;
    case State::Idle:
    case State::Searching:
        qCDebug(lcFrames).noquote()
            << "answer" << SpacedHex(message) << "without a request: dropped";
        return;
    }
}

void Transaction::runPass()
{
    if (m_lineState == State::WaitingForAnswer && now() >= m_deadlineMs) {
        qCDebug(lcFrames).noquote()
            << "no answer to" << SpacedHex(m_request) << "within" << m_limitMs << "ms";
        setLineState(State::LateAnswerGuard);
        m_guardEndMs = m_deadlineMs + Protocol::LateAnswerGuardTime.count();
        m_guardLine = m_link.openCount();
        complete(Protocol::TimeoutAnswer());
    }
    if (m_lineState == State::LateAnswerGuard && !guardStillHolds())
        endGuard();
    scheduleNextPass();
}

bool Transaction::guardStillHolds() const
{
    // A late answer can only come on the line that carried the request.
    return now() < m_guardEndMs && m_link.isOpen() && m_link.openCount() == m_guardLine;
}

void Transaction::endGuard()
{
    setLineState(State::Idle);
    m_passTimer->stop();
    if (!isOpen())
        return;
    if (!m_link.isOpen()) {
        qCDebug(lcFrames).noquote() << "request" << SpacedHex(m_request) << "not sent: port closed";
        complete(Protocol::TimeoutAnswer());
        return;
    }
    writeRequest();
}

void Transaction::scheduleNextPass()
{
    qint64 deadline = 0;
    if (m_lineState == State::WaitingForAnswer)
        deadline = m_deadlineMs;
    else if (m_lineState == State::LateAnswerGuard)
        deadline = m_guardEndMs;
    else
        return;
    // No polling while the line waits: the next look is when the deadline is due.
    const qint64 wait = m_clock.lookAgainAfterMs(qMax<qint64>(0, deadline - now()));
    m_passTimer->start(std::chrono::milliseconds(wait));
}

void Transaction::complete(const QByteArray &answer, Delivery delivery)
{
    m_state.WaitAnswer = false;
    m_request.clear();
    deliver(std::exchange(m_done, nullptr), answer, delivery);
}

void Transaction::deliver(Done done, const QByteArray &answer, Delivery delivery)
{
    if (!done)
        return;
    if (delivery == Delivery::Now)
        done(answer);
    else
        QTimer::singleShot(0, this, [done = std::move(done), answer] { done(answer); });
}

qint64 Transaction::now() const
{
    return m_clock.milliseconds();
}

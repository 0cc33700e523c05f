#pragma once

#include "core/server_state.h"

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <functional>

class Clock;
class QTimer;
class SerialLink;

// One request/answer exchange with the device, never blocking.
//
// SendData writes FF FE + the message and returns at once. The open transaction
// completes with the first answer frame that the serial link reads after the
// request was written or, once the time limit has passed or the device is lost,
// with TimeoutAnswer (01 01 00). A timer looks at the clock when the limit is due.
//
// The line is in one of three states:
//   Idle             no request open; an answer frame now answers nothing and goes;
//   WaitingForAnswer a request is written and its answer awaited;
//   LateAnswerGuard  a request timed out: for a second past its limit an
//                    answer frame is that request's late answer and goes. A request
//                    sent meanwhile is held back and written when the guard ends or
//                    as soon as one late answer has gone, so a slow device's answer
//                    never reaches the next caller.
//
// Rules that hold:
//  - one transaction at a time; WaitAnswer is true exactly while a caller waits;
//  - an answer frame that began before its request was written answers nothing
//    (the serial link drops it);
//  - `done` is called from the event loop, never from inside SendData or
//    abort() (those hand it over through a zero-delay queued call), so a caller
//    never re-enters itself; an answer or a time-out noticed on the loop goes
//    to `done` in the same pass, so that the next request can follow at once.
//    WaitAnswer is already false when it runs.
class Transaction : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const QByteArray &answer)>;
    using State = LinkState; // Idle, WaitingForAnswer or LateAnswerGuard

    // The answer limits (2,000 ms, 60,000 ms in programming mode) and the
    // guard's time (1,000 ms) are Protocol's.

    Transaction(
        ServerState &state, SerialLink &link, const Clock &clock, QObject *parent = nullptr);

    // Sends one message (header, data, check byte as the caller made them) and
    // completes through `done` with the answer message or TimeoutAnswer. With
    // the port closed nothing is written and the answer is TimeoutAnswer.
    void SendData(const QByteArray &data, Done done);
    // A caller waits for its answer (its request written, or held back by the guard).
    bool isOpen() const { return static_cast<bool>(m_done); }
    State state() const { return m_lineState; }
    // Completes the open transaction now with TimeoutAnswer and ends any guard
    // (a search takes the port over); nothing when none is open.
    void abort();

private:
    void setLineState(State state);
    void takeAnswer(const QByteArray &message);
    void endOnLoss();
    void writeRequest();
    void runPass();
    void endGuard();
    bool guardStillHolds() const;
    void scheduleNextPass();
    enum class Delivery
    {
        Now,
        Queued
    };
    void complete(const QByteArray &answer, Delivery delivery = Delivery::Now);
    void deliver(Done done, const QByteArray &answer, Delivery delivery);
    qint64 now() const;

    ServerState &m_state;
    SerialLink &m_link;
    const Clock &m_clock;
    QTimer *m_passTimer = nullptr; // due at the deadline while the line is not idle
    State m_lineState = State::Idle; // the line as this transaction sees it; mirrored into
                                     // ServerState::Link unless the search owns the port
    QByteArray m_request; // the open transaction's message
    Done m_done; // the open transaction's caller
    qint64 m_limitMs = 0; // the awaited answer's limit, fixed when the request was written
    qint64 m_deadlineMs = 0; // clock reading at which the awaited answer is late
    qint64 m_guardEndMs = 0; // clock reading at which the guard ends
    quint64 m_guardLine = 0; // the serial link's open count the guard belongs to
};

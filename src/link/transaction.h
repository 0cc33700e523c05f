#pragma once

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <functional>

class Clock;
class QTimer;
class SerialLink;
struct ServerState;

// One request/answer exchange with the device, never blocking.
//
// SendData writes FF FE + the message and returns at once. The open transaction
// is then advanced by every arrival of serial bytes and by a short timer (so a
// clock that moves without any arrival is noticed), and completes with the
// first complete answer frame in InpStr or, when the time limit has passed,
// with TimeoutAnswer (01 01 00).
//
// Rules that hold:
//  - one transaction at a time; WaitAnswer is true exactly while one is open;
//  - answer frames already in InpStr when a request is written answer nothing:
//    they are dropped before the write, so a late answer never reaches the
//    next caller;
//  - `done` is always called from the event loop through a zero-delay queued
//    call, never from inside SendData or abort(), so a caller never re-enters
//    itself. WaitAnswer is already false when it runs.
class Transaction : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const QByteArray &answer)>;

    // Time limits in changes of the clock's whole second after the write.
    static constexpr qint64 AnswerLimitSeconds = 2;
    static constexpr qint64 ProgModeAnswerLimitSeconds = 60;
    static constexpr std::chrono::milliseconds PassInterval { 25 };

    Transaction(
        ServerState &state, SerialLink &link, const Clock &clock, QObject *parent = nullptr);

    // Sends one message (header, data, check byte as the caller made them) and
    // completes through `done` with the answer message or TimeoutAnswer. With
    // the port closed nothing is written and the answer is TimeoutAnswer.
    void SendData(const QByteArray &data, Done done);
    bool isOpen() const { return m_open; }
    // Completes the open transaction now with TimeoutAnswer (a start takes the
    // port over); nothing when none is open.
    void abort();

private:
    void runPass();
    void complete(const QByteArray &answer);
    void deliver(Done done, const QByteArray &answer);

    ServerState &m_state;
    SerialLink &m_link;
    const Clock &m_clock;
    QTimer *m_passTimer = nullptr; // runs only while a transaction is open
    bool m_open = false;
    Done m_done; // the open transaction's caller
    qint64 m_start = 0; // clock reading when the request was written
    qint64 m_limit = 0; // seconds, fixed when the request was written
    bool m_timedOut = false; // the limit has passed; an answer found in the same pass still wins
};

#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <chrono>

// Every value that travels on the wire or that a peer relies on, written once
// for the server, the simulated device and qx-client.
namespace Protocol {

// TCP services.
constexpr quint16 DefaultCommandPort = 5550;
constexpr quint16 DefaultBroadcastPort = 5551;
constexpr int MaxConnections = 100; // slots per service

// The serial line: 57600 baud, 8 data bits, no parity, 1 stop bit; frames
// FF FE (an answer, or a request to the device) and FF FD (a broadcast) before
// a message of header, (header & 15) data bytes and a check byte.
constexpr qint32 BaudRate = 57600;
constexpr char FrameStartByte = '\xFF';
constexpr char AnswerFrameByte = '\xFE';
constexpr char BroadcastFrameByte = '\xFD';
constexpr int FirstPortNumber = 1; // serial port numbers the search knows
constexpr int LastPortNumber = 30;

inline QByteArray AnswerFramePrefix()
{
    return QByteArray("\xFF\xFE", 2);
}
inline QByteArray BroadcastFramePrefix()
{
    return QByteArray("\xFF\xFD", 2);
}
// The probe that finds the device, and the one answer that counts.
inline QByteArray ProbeRequest()
{
    return QByteArray("\xF2\x02\x03\xF3", 4);
}
inline QByteArray ProbeAnswer()
{
    return QByteArray("\x61\x82\xE3", 3);
}

// Messages with a meaning of their own.
inline QByteArray TimeoutAnswer()
{
    return QByteArray("\x01\x01\x00", 3);
} // no answer came
inline QByteArray ProgModeNotice()
{
    return QByteArray("\x61\x02\x63", 3);
} // to every listener
inline QByteArray LeaveProgModeCommand()
{
    return QByteArray("\x21\x81\xA0", 3);
}

// Text lines of the command service.
inline QByteArray ErrorAnswerLine()
{
    return QByteArrayLiteral("6180E1\r\n");
} // malformed line
inline QByteArray RefusalText() // no free slot, or programming mode; no line end
{
    return QByteArrayLiteral("Sorry, I could not accept your connection request");
}

// Limits.
constexpr int MaxCommandDigits = 16; // 8 bytes
constexpr int MinCommandDigits = 4; // 2 bytes
constexpr int MaxLineLength = 32766; // characters of a command line without its CR
constexpr qint64 MaxUnsentBytes = 1024 * 1024; // per connection; past it: a slow reader
constexpr qint64 IdleLimitSeconds = 60; // a connection silent for longer is closed
constexpr std::chrono::milliseconds AnswerLimit { 2000 };
constexpr std::chrono::milliseconds ProgModeAnswerLimit { 60000 };
constexpr std::chrono::milliseconds LateAnswerGuardTime { 1000 };
// An incomplete frame waits for its bytes only while they keep coming: after this long without
// a byte from the device it is a piece (unplugged mid-frame, a glitch, another device's bytes).
// A whole frame takes under 4 ms at 57600 baud, and USB adapters hand on what they hold at
// least every 16 ms.
constexpr std::chrono::milliseconds FrameGap { 100 };

} // namespace Protocol

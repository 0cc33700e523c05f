#pragma once

#include <QByteArray>
#include <QList>

// Cuts the device's frames out of the raw byte stream of its serial line: FF FE + message (an
// answer) and FF FD + message (a broadcast), the message being header, (header & 15) data bytes
// and a check byte. Bytes that stand before a frame start are skipped. Used by the clients that
// talk to the device without the server: over the pty itself, or through a raw TCP bridge.
class FrameReader
{
public:
    struct Frame
    {
        bool broadcast = false;
        QByteArray message;
    };

    // Takes newly received bytes; returns the frames they completed, in order.
    QList<Frame> take(const QByteArray &bytes);
    // Bytes received but not yet part of a complete frame.
    qsizetype pendingBytes() const { return m_buffer.size() - m_start; }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0; // bytes before it have been used
};

// Cuts CR LF lines out of the text a service sends; the lines come without their line end.
class LineReader
{
public:
    QList<QByteArray> take(const QByteArray &bytes);
    // Text after the last line end (a refusal text has none).
    QByteArray rest() const { return m_buffer; }

private:
    QByteArray m_buffer;
};

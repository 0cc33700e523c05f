#pragma once

#include "core/receive_buffer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

// The receive buffer InpStr over time: the bytes as they arrive, which of them
// arrived before the latest request was written, and the frame gap. Pure: the
// caller hands in the clock's readings and says when a request is written or a
// port opened.
//
// Rules that hold:
//  - frames are read by their own lengths, and no byte is ever cut out of a
//    frame that is still incomplete;
//  - an answer frame whose first byte arrived before the latest request was
//    written answers nothing, wherever the reading reaches it;
//  - once the line has been quiet for the frame gap nothing waits in the
//    buffer, so the next request gets its own answer whatever came before;
//  - the buffer holds at most one incomplete frame between readings.
class FrameReader
{
public:
    // What one reading took out of the buffer: the bytes, and the frames and noise in them.
    struct Batch
    {
        QByteArray bytes;
        std::vector<ReceiveBuffer::Span> spans;
        qsizetype predating = 0; // bytes at the front that arrived before the latest request
        quint64 requests = 0; // requests written when the batch was read
    };

    explicit FrameReader(QByteArray &buffer)
        : m_buffer(buffer)
    { }

    // Bytes from the device, arrived at clock reading `nowMs`.
    void append(const QByteArray &bytes, qint64 nowMs);
    // A request is written now: every byte in the buffer arrived before it.
    void markRequest();
    // A port was opened: bytes of another port, or of a device before its loss, belong to
    // no request.
    void clear();
    // Takes out what can be read at `nowMs`; on a line quiet for the frame gap, everything.
    Batch read(qint64 nowMs);
    // The same into `batch`, whose room for spans is kept from one reading to the next.
    void read(qint64 nowMs, Batch &batch);
    // Whether an answer frame of `batch` answers nothing: it began before the latest
    // request, or a request has been written since the batch was read.
    bool predatesRequest(const Batch &batch, const ReceiveBuffer::Span &span) const;
    // The clock reading at which what waits in the buffer is a piece; none while nothing waits.
    std::optional<qint64> gapEndsAt() const;

private:
    QByteArray &m_buffer;
    qsizetype m_predating = 0; // bytes at the front of the buffer that predate the latest request
    quint64 m_requests = 0; // requests written so far
    qint64 m_lastArrivalMs = 0; // clock reading of the latest bytes
};

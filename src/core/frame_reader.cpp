#include "frame_reader.h"

#include "core/protocol.h"

#include <utility>

void FrameReader::append(const QByteArray &bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return;
    m_buffer.append(bytes); // into an empty buffer: shared, not copied
    m_lastArrivalMs = nowMs;
}

void FrameReader::markRequest()
{
    m_predating = m_buffer.size();
    ++m_requests;
}

void FrameReader::clear()
{
    m_buffer.clear();
    m_predating = 0;
}

FrameReader::Batch FrameReader::read(qint64 nowMs)
{
    Batch batch;
    read(nowMs, batch);
    return batch;
}

void FrameReader::read(qint64 nowMs, Batch &batch)
{
    const std::optional<qint64> gapEnd = gapEndsAt();
    const auto line
        = gapEnd && nowMs >= *gapEnd ? ReceiveBuffer::Line::Quiet : ReceiveBuffer::Line::Active;
    const qsizetype consumed = ReceiveBuffer::ReadFrames(m_buffer, line, batch.spans);
    batch.predating = m_predating;
    batch.requests = m_requests;
    if (consumed == m_buffer.size()) {
        batch.bytes = std::exchange(m_buffer, QByteArray()); // the usual case: no copy
    } else {
        batch.bytes = m_buffer.first(consumed);
        m_buffer.remove(0, consumed);
    }
    m_predating = qMax<qsizetype>(0, m_predating - consumed);
}

bool FrameReader::predatesRequest(const Batch &batch, const ReceiveBuffer::Span &span) const
{
    return span.start < batch.predating || batch.requests != m_requests;
}

std::optional<qint64> FrameReader::gapEndsAt() const
{
    if (m_buffer.isEmpty())
        return std::nullopt;
    return m_lastArrivalMs + Protocol::FrameGap.count();
}

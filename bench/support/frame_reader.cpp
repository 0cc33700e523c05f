#include "frame_reader.h"

namespace {

constexpr char Prefix = '\xFF';
constexpr char AnswerKind = '\xFE';
constexpr char BroadcastKind = '\xFD';
constexpr qsizetype CompactAbove = 64 * 1024;

} // namespace

QList<FrameReader::Frame> FrameReader::take(const QByteArray &bytes)
{
    m_buffer.append(bytes);
    QList<Frame> frames;
    while (m_start + 3 <= m_buffer.size()) {
        const char kind = m_buffer.at(m_start + 1);
        if (m_buffer.at(m_start) != Prefix || (kind != AnswerKind && kind != BroadcastKind)) {
            ++m_start;
            continue;
        }
        const qsizetype length = (quint8(m_buffer.at(m_start + 2)) & 15) + 4;
        if (m_buffer.size() - m_start < length)
            break;
        frames.append({ kind == BroadcastKind, m_buffer.mid(m_start + 2, length - 2) });
        m_start += length;
    }
    // Keep the buffer short without moving bytes on every call.
    if (m_start == m_buffer.size() || m_start > CompactAbove) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    return frames;
}

QList<QByteArray> LineReader::take(const QByteArray &bytes)
{
    m_buffer.append(bytes);
    QList<QByteArray> lines;
    qsizetype from = 0;
    qsizetype end;
    while ((end = m_buffer.indexOf("\r\n", from)) >= 0) {
        lines.append(m_buffer.mid(from, end - from));
        from = end + 2;
    }
    m_buffer.remove(0, from);
    return lines;
}

#include "receive_buffer.h"

namespace ReceiveBuffer {

namespace {

constexpr char StartByte = Protocol::FrameStartByte;
constexpr char AnswerByte = Protocol::AnswerFrameByte;
constexpr char BroadcastByte = Protocol::BroadcastFrameByte;

bool IsFrameStartAt(QByteArrayView buffer, qsizetype position)
{
    if (position + 1 >= buffer.size() || buffer.at(position) != StartByte)
        return false;
    const char kind = buffer.at(position + 1);
    return kind == AnswerByte || kind == BroadcastByte;
}

// The first frame start (FF FE or FF FD) at or after `from` whose first byte
// lies before `before`; -1 when there is none. Scans only up to `before`, so
// that reading a long burst frame by frame stays linear.
qsizetype NextFrameStart(QByteArrayView buffer, qsizetype from, qsizetype before)
{
    if (from < before && IsFrameStartAt(buffer, from))
        return from; // a burst: one frame right after the other
    const QByteArrayView window = buffer.first(qMin(before, buffer.size()));
    for (qsizetype at = window.indexOf(StartByte, from); at >= 0;
         at = window.indexOf(StartByte, at + 1)) {
        if (IsFrameStartAt(buffer, at))
            return at;
    }
    return -1;
}

qsizetype NextFrameStart(QByteArrayView buffer, qsizetype from)
{
    return NextFrameStart(buffer, from, buffer.size());
}

// Noise that follows noise is one run of it.
void AddNoise(std::vector<Span> &spans, qsizetype from, qsizetype to)
{
    if (to <= from)
        return;
    if (!spans.empty()) {
        Span &last = spans.back();
        if (last.kind == Span::Kind::Noise && last.start + last.length == from) {
            last.length += to - from;
            return;
        }
    }
    spans.push_back({ Span::Kind::Noise, from, to - from });
}

void AddFrame(std::vector<Span> &spans, QByteArrayView buffer, qsizetype start, qsizetype end)
{
    const bool answer = buffer.at(start + 1) == AnswerByte;
    spans.push_back({ answer ? Span::Kind::Answer : Span::Kind::Broadcast, start, end - start });
}

} // namespace

bool CheckByteAgrees(QByteArrayView message)
{
    if (message.isEmpty())
        return false;
    char sum = 0;
    for (char byte : message.chopped(1))
        sum ^= byte;
    return sum == message.back();
}

Reading ReadFrames(QByteArrayView buffer, Line line)
{
    Reading reading;
    reading.consumed = ReadFrames(buffer, line, reading.spans);
    return reading;
}

qsizetype ReadFrames(QByteArrayView buffer, Line line, std::vector<Span> &spans)
{
    const bool quiet = line == Line::Quiet;
    spans.clear();
    spans.reserve(buffer.size() / 4 + 1); // a frame has four bytes or more
    qsizetype consumed = 0;
    qsizetype from = 0; // the first byte not yet read as a frame or noise
    while (true) {
        const qsizetype start = NextFrameStart(buffer, from);
        if (start < 0) {
            // Noise to the end, but for a last FF on an active line: it may be the first half
            // of a frame start.
            const bool startMayFollow
                = !quiet && buffer.size() > from && buffer.endsWith(StartByte);
            consumed = startMayFollow ? buffer.size() - 1 : buffer.size();
            AddNoise(spans, from, consumed);
            return consumed;
        }
        AddNoise(spans, from, start);
        consumed = start;
        const qsizetype end = start + 2 < buffer.size()
            ? start + FrameLength(static_cast<quint8>(buffer.at(start + 2)))
            : buffer.size() + 1;
        if (end > buffer.size()) {
            if (!quiet)
                return consumed; // incomplete: waits for its bytes
            // Incomplete on a quiet line: a piece, noise up to the next frame start.
            const qsizetype next = NextFrameStart(buffer, start + 2);
            from = next < 0 ? buffer.size() : next;
            AddNoise(spans, start, from);
            consumed = from;
            continue;
        }
        if (!CheckByteAgrees(buffer.sliced(start + 2, end - start - 2))) {
            // Another frame start that begins within the extent, after the frame's own:
            // then this is a piece, and its bytes up to that start are noise.
            const qsizetype inner = NextFrameStart(buffer, start + 2, end);
            if (inner >= 0) {
                AddNoise(spans, start, inner);
                from = inner;
                continue;
            }
            if (!quiet && end == buffer.size() && buffer.endsWith(StartByte))
                return consumed; // its last FF may begin a frame: the next byte decides
        }
        AddFrame(spans, buffer, start, end);
        from = end;
        consumed = end;
    }
}

} // namespace ReceiveBuffer

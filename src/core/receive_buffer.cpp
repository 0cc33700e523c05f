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

qsizetype NextAnswerStart(QByteArrayView buffer, qsizetype from)
{
    return buffer.indexOf(Protocol::AnswerFramePrefix(), from);
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

Reading ReadFrames(QByteArrayView buffer)
{
    Reading reading;
    qsizetype from = 0;
    while (true) {
        const qsizetype start = NextFrameStart(buffer, from);
        if (start < 0) {
            // Noise to the end, but for a last FF: it may be the first half of a frame start.
            const bool startMayFollow = buffer.size() > from && buffer.endsWith(StartByte);
            reading.consumed = startMayFollow ? buffer.size() - 1 : buffer.size();
            return reading;
        }
        reading.consumed = start;
        if (start + 2 >= buffer.size())
            return reading; // the header has yet to come
        const qsizetype end = start + FrameLength(static_cast<quint8>(buffer.at(start + 2)));
        if (end > buffer.size())
            return reading; // incomplete: waits for its bytes
        const QByteArrayView message = buffer.sliced(start + 2, end - start - 2);
        if (!CheckByteAgrees(message)) {
            // Another frame start that begins within the extent, after the frame's own:
            // then this is a piece, and its bytes up to that start are noise.
            const qsizetype inner = NextFrameStart(buffer, start + 2, end);
            if (inner >= 0) {
                from = inner;
                continue;
            }
            if (end == buffer.size() && buffer.endsWith(StartByte))
                return reading; // its last FF may begin a frame: the next byte decides
        }
        const bool answer = buffer.at(start + 1) == AnswerByte;
        Frame frame;
        frame.kind = answer ? Frame::Kind::Answer : Frame::Kind::Broadcast;
        frame.start = start + 2;
        frame.length = message.size();
        reading.frames.push_back(frame);
        from = end;
        reading.consumed = end;
    }
}

void DropStaleAnswers(QByteArray &buffer)
{
    qsizetype start = NextAnswerStart(buffer, 0);
    while (start >= 0) {
        qsizetype end = buffer.size();
        if (start + 2 < buffer.size())
            end = qMin(end, start + FrameLength(static_cast<quint8>(buffer.at(start + 2))));
        const qsizetype next = NextFrameStart(buffer, start + 2);
        if (next >= 0)
            end = qMin(end, next);
        buffer.remove(start, end - start);
        // An FF just before the removed bytes and an FE just after them now
        // stand side by side: that is a stale answer start too.
        start = NextAnswerStart(buffer, qMax<qsizetype>(0, start - 1));
    }
}

void ApplyCap(QByteArray &buffer, int cap)
{
    if (buffer.size() <= cap)
        return;
    const qsizetype lastAnswer = buffer.lastIndexOf(Protocol::AnswerFramePrefix());
    const qsizetype lastBroadcast = buffer.lastIndexOf(Protocol::BroadcastFramePrefix());
    const qsizetype last = qMax(lastAnswer, lastBroadcast);
    if (last > 0)
        buffer.remove(0, last);
    if (last < 0 || buffer.size() > cap)
        buffer.clear();
}

} // namespace ReceiveBuffer

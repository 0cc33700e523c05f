#include "receive_buffer.h"

namespace ReceiveBuffer {

namespace {

const char AnswerStart[] = { '\xFF', '\xFE' };
const char BroadcastStart[] = { '\xFF', '\xFD' };

qsizetype Find(const QByteArray &buffer, const char (&prefix)[2], qsizetype from)
{
    return buffer.indexOf(QByteArrayView(prefix, 2), from);
}

// The nearer of the next answer start and the next broadcast start at or after
// `from`; -1 when there is neither.
qsizetype NextFrameStart(const QByteArray &buffer, qsizetype from)
{
    const qsizetype answer = Find(buffer, AnswerStart, from);
    const qsizetype broadcast = Find(buffer, BroadcastStart, from);
    if (answer < 0)
        return broadcast;
    if (broadcast < 0)
        return answer;
    return qMin(answer, broadcast);
}

// The complete frame's message at `start`, cut out; nothing when incomplete.
std::optional<QByteArray> CutFrame(QByteArray &buffer, qsizetype start)
{
    if (start + 2 >= buffer.size())
        return std::nullopt;
    const int length = FrameLength(static_cast<quint8>(buffer.at(start + 2)));
    if (buffer.size() - start < length)
        return std::nullopt;
    QByteArray message = buffer.mid(start + 2, length - 2);
    buffer.remove(start, length);
    return message;
}

} // namespace

QByteArray TimeoutAnswer()
{
    return QByteArray("\x01\x01\x00", 3);
}

void DropStaleAnswers(QByteArray &buffer)
{
    qsizetype start = Find(buffer, AnswerStart, 0);
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
        start = Find(buffer, AnswerStart, qMax<qsizetype>(0, start - 1));
    }
}

std::optional<QByteArray> TakeAnswer(QByteArray &buffer)
{
    const qsizetype start = Find(buffer, AnswerStart, 0);
    if (start < 0)
        return std::nullopt;
    std::optional<QByteArray> message = CutFrame(buffer, start);
    if (message)
        CleanUpAnswerPieces(buffer);
    return message;
}

void CleanUpAnswerPieces(QByteArray &buffer)
{
    qsizetype start = Find(buffer, AnswerStart, 0);
    while (start >= 0) {
        const qsizetype next = NextFrameStart(buffer, start + 1);
        if (next >= 0)
            buffer.remove(start, next - start);
        start = Find(buffer, AnswerStart, start + 1);
    }
}

std::optional<QByteArray> TakeBroadcast(QByteArray &buffer)
{
    const qsizetype start = Find(buffer, BroadcastStart, 0);
    if (start < 0)
        return std::nullopt;
    return CutFrame(buffer, start);
}

void EmptyWithoutFrameByte(QByteArray &buffer)
{
    if (!buffer.contains('\xFF'))
        buffer.clear();
}

void ApplyCap(QByteArray &buffer, int cap)
{
    if (buffer.size() <= cap)
        return;
    const qsizetype lastAnswer = buffer.lastIndexOf(QByteArrayView(AnswerStart, 2));
    const qsizetype lastBroadcast = buffer.lastIndexOf(QByteArrayView(BroadcastStart, 2));
    const qsizetype last = qMax(lastAnswer, lastBroadcast);
    if (last > 0)
        buffer.remove(0, last);
    if (last < 0 || buffer.size() > cap)
        buffer.clear();
}

} // namespace ReceiveBuffer

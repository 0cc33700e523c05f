// The receive buffer as the serial link keeps it, fed an arbitrary byte stream
// in arbitrary chunks: after every chunk its frames are read and the bytes read
// removed, and now and then the stale answers are dropped before a request.
//
// Input: byte 0 gives the number k (1..8) of control bytes that follow; the rest
// is the byte stream from the device. The control bytes are used in a cycle,
// one per step: the low four bits choose the step, the high four the length of
// an appended chunk.

#include "core/receive_buffer.h"
#include "fuzz_check.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace {

using ReceiveBuffer::Frame;

constexpr int MaxControlBytes = 8;
constexpr int DropStep = 7;
constexpr int LongestFrame = 19;

const QByteArray AnswerStart("\xFF\xFE", 2);

QByteArray Framed(QByteArrayView buffer, const Frame &frame)
{
    const char kind = frame.kind == Frame::Kind::Answer ? '\xFE' : '\xFD';
    return QByteArray(1, '\xFF') + kind + frame.message(buffer).toByteArray();
}

// Reads the buffer as the link does and checks what the reading says.
void Read(QByteArray &buffer, QByteArray &frames)
{
    const ReceiveBuffer::Reading reading = ReceiveBuffer::ReadFrames(buffer);
    QX_FUZZ_CHECK(reading.consumed >= 0 && reading.consumed <= buffer.size());
    const QByteArray read = buffer.left(reading.consumed);
    qsizetype from = 0;
    for (const Frame &frame : reading.frames) {
        // Each frame is as long as its header says and stands, in order, in what was read.
        const QByteArrayView message = frame.message(buffer);
        QX_FUZZ_CHECK(
            message.size() == ReceiveBuffer::MessageLength(static_cast<quint8>(message[0])));
        const qsizetype at = read.indexOf(Framed(buffer, frame), from);
        QX_FUZZ_CHECK(at >= 0);
        from = at + message.size() + 2;
        frames += Framed(buffer, frame);
    }
    buffer.remove(0, reading.consumed);
    // What waits is one incomplete frame, or an FF that may begin one.
    QX_FUZZ_CHECK(buffer.size() <= LongestFrame);
    QX_FUZZ_CHECK(buffer.isEmpty() || buffer.startsWith('\xFF'));
    const ReceiveBuffer::Reading again = ReceiveBuffer::ReadFrames(buffer);
    QX_FUZZ_CHECK(again.frames.empty() && again.consumed == 0);
}

void DropStaleAnswers(QByteArray &buffer)
{
    const qsizetype sizeBefore = buffer.size();
    ReceiveBuffer::DropStaleAnswers(buffer);
    QX_FUZZ_CHECK(buffer.size() <= sizeBefore);
    QX_FUZZ_CHECK(!buffer.contains(AnswerStart));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int controlCount
        = static_cast<int>(qMin<std::size_t>(data[0] % MaxControlBytes + 1, size - 1));
    const std::uint8_t *control = data + 1;
    const QByteArray stream(reinterpret_cast<const char *>(control + controlCount),
        static_cast<qsizetype>(size) - 1 - controlCount);

    QByteArray buffer;
    QByteArray frames;
    bool dropped = false;
    qsizetype read = 0;
    int step = 0;
    while (read < stream.size()) {
        const quint8 next = control[step++ % controlCount];
        if ((next & 15) == DropStep) {
            DropStaleAnswers(buffer);
            Read(buffer, frames);
            dropped = true;
            if (step > 4 * stream.size() + MaxControlBytes)
                break; // a cycle of drops alone
            continue;
        }
        const QByteArray chunk = stream.mid(read, (next >> 4) + 1);
        read += chunk.size();
        buffer.append(chunk);
        Read(buffer, frames);
    }
    // However the bytes arrived, the same frames are read, as long as nothing was dropped.
    if (!dropped) {
        QByteArray whole = stream;
        QByteArray wholeFrames;
        Read(whole, wholeFrames);
        QX_FUZZ_CHECK(wholeFrames == frames);
        QX_FUZZ_CHECK(whole == buffer);
    }
    return 0;
}

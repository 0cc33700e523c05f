// The receive buffer as the serial link keeps it, fed an arbitrary byte stream
// in arbitrary chunks: after every chunk its frames are read and the bytes read
// removed; at the end the line falls quiet.
//
// Input: byte 0 gives the number k (1..8) of control bytes that follow; the rest
// is the byte stream from the device. The control bytes are used in a cycle, one
// per chunk: the low four bits give the chunk's length.

#include "core/receive_buffer.h"
#include "fuzz_check.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace {

using ReceiveBuffer::Line;
using ReceiveBuffer::Span;

constexpr int MaxControlBytes = 8;
constexpr int LongestFrame = 19;

// Reads the buffer as the link does and checks what the reading says; the frames read are
// appended to `frames` with their frame starts, the noise to `noise`.
void Read(QByteArray &buffer, Line line, QByteArray &frames, QByteArray &noise)
{
    const ReceiveBuffer::Reading reading = ReceiveBuffer::ReadFrames(buffer, line);
    QX_FUZZ_CHECK(reading.consumed >= 0 && reading.consumed <= buffer.size());
    // The spans tile what was consumed, in order; each frame is as long as its header says.
    qsizetype at = 0;
    for (const Span &span : reading.spans) {
        QX_FUZZ_CHECK(span.start == at && span.length > 0);
        at += span.length;
        const QByteArrayView bytes = span.bytes(buffer);
        if (span.kind == Span::Kind::Noise) {
            noise += bytes.toByteArray();
            continue;
        }
        QX_FUZZ_CHECK(bytes[0] == '\xFF');
        QX_FUZZ_CHECK(bytes[1] == (span.kind == Span::Kind::Answer ? '\xFE' : '\xFD'));
        QX_FUZZ_CHECK(bytes.size() == ReceiveBuffer::FrameLength(static_cast<quint8>(bytes[2])));
        frames += bytes.toByteArray();
    }
    QX_FUZZ_CHECK(at == reading.consumed);
    buffer.remove(0, reading.consumed);
    // What waits is one incomplete frame, or an FF that may begin one; on a quiet line nothing.
    QX_FUZZ_CHECK(buffer.size() <= LongestFrame);
    QX_FUZZ_CHECK(buffer.isEmpty() || buffer.startsWith('\xFF'));
    QX_FUZZ_CHECK(line == Line::Active || buffer.isEmpty());
    const ReceiveBuffer::Reading again = ReceiveBuffer::ReadFrames(buffer);
    QX_FUZZ_CHECK(again.spans.empty() && again.consumed == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const SteeredStream input(data, size, MaxControlBytes);
    const QByteArray &stream = input.stream;

    QByteArray buffer, frames, noise;
    int step = 0;
    for (qsizetype read = 0; read < stream.size();) {
        const QByteArray chunk = stream.mid(read, (input.at(step++) & 15) + 1);
        read += chunk.size();
        buffer.append(chunk);
        Read(buffer, Line::Active, frames, noise);
    }
    Read(buffer, Line::Quiet, frames, noise);
    // Every byte is a frame's or noise, and however the bytes arrived, the same frames are read.
    QX_FUZZ_CHECK(frames.size() + noise.size() == stream.size());
    QByteArray whole = stream, wholeFrames, wholeNoise;
    Read(whole, Line::Active, wholeFrames, wholeNoise);
    Read(whole, Line::Quiet, wholeFrames, wholeNoise);
    QX_FUZZ_CHECK(wholeFrames == frames);
    return 0;
}

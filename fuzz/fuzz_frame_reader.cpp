// The serial link's reading over time, with a manual clock: an arbitrary byte
// stream in arbitrary chunks with arbitrary gaps, requests written between them,
// then the frame gap of quiet, then a request whose answer the device writes.
// Whatever came before, that request gets exactly its own answer; an answer is
// handed out exactly when it began after the latest request; every frame handed
// out stands whole in the stream; the buffer never holds more than a frame.
//
// Input: byte 0 gives the number k (1..8) of control bytes that follow; the rest
// is the byte stream from the device. The control bytes are used in a cycle, one
// per chunk: the low four bits give the chunk's length, the next three the quiet
// before it in steps of 20 ms, the high bit a request written just before it.

#include "core/frame_reader.h"
#include "fuzz_check.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace {

using ReceiveBuffer::Span;

constexpr int MaxControlBytes = 8;
constexpr int LongestFrame = 19;
constexpr qint64 GapMs = 100; // the frame gap, as the device's line has it

struct Line
{
    QByteArray stream; // every byte the device sent, in order
    QByteArray buffer; // InpStr
    FrameReader reader { buffer };
    qint64 now = 0;
    qsizetype taken = 0; // stream offset of the buffer's first byte
    qsizetype requestAt = 0; // stream offset at the latest request
    QByteArray answers; // the messages of the answers handed out, one after another

    void arrive(const QByteArray &bytes)
    {
        stream += bytes;
        reader.append(bytes, now);
        read();
    }

    void writeRequest()
    {
        reader.markRequest();
        requestAt = stream.size();
    }

    // Lets `ms` pass, with a reading whenever the gap's timer would fire.
    void wait(qint64 ms)
    {
        const qint64 until = now + ms;
        const std::optional<qint64> gapEnd = reader.gapEndsAt();
        if (gapEnd && *gapEnd <= until) {
            now = *gapEnd;
            read();
        }
        now = until;
    }

    void read()
    {
        const FrameReader::Batch batch = reader.read(now);
        qsizetype at = 0;
        for (const Span &span : batch.spans) {
            QX_FUZZ_CHECK(span.start == at && span.length > 0);
            at += span.length;
            const qsizetype offset = taken + span.start;
            QX_FUZZ_CHECK(stream.mid(offset, span.length) == span.bytes(batch.bytes));
            if (span.kind != Span::Kind::Answer)
                continue;
            const bool stale = reader.predatesRequest(batch, span);
            QX_FUZZ_CHECK(stale == (offset < requestAt));
            if (!stale)
                answers += span.message(batch.bytes).toByteArray();
        }
        QX_FUZZ_CHECK(at == batch.bytes.size());
        taken += batch.bytes.size();
        QX_FUZZ_CHECK(buffer.size() <= LongestFrame);
        QX_FUZZ_CHECK(reader.gapEndsAt().has_value() == !buffer.isEmpty());
    }
};

// An answer message of `header`'s length, its data taken from `bytes`, with a check byte
// that agrees.
QByteArray AnswerMessage(quint8 header, QByteArrayView bytes)
{
    QByteArray message(1, char(header));
    for (int i = 0; i < (header & 15); ++i)
        message += i < bytes.size() ? bytes[i] : char(i);
    char check = 0;
    for (char byte : message)
        check ^= byte;
    return message + check;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const SteeredStream input(data, size, MaxControlBytes);
    const QByteArray &stream = input.stream;

    Line line;
    int step = 0;
    for (qsizetype read = 0; read < stream.size();) {
        const std::uint8_t next = input.at(step++);
        line.wait(20 * ((next >> 4) & 7));
        if (next & 0x80)
            line.writeRequest();
        const QByteArray chunk = stream.mid(read, (next & 15) + 1);
        read += chunk.size();
        line.arrive(chunk);
    }

    line.wait(GapMs);
    QX_FUZZ_CHECK(line.buffer.isEmpty());
    line.answers.clear();
    const QByteArray message = AnswerMessage(data[0], stream);
    line.writeRequest();
    line.arrive(QByteArray("\xFF\xFE", 2) + message);
    QX_FUZZ_CHECK(line.answers == message);
    QX_FUZZ_CHECK(line.buffer.isEmpty());
    return 0;
}

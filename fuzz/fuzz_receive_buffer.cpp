// The receive buffer rules fed an arbitrary byte stream in arbitrary chunks,
// with the cutting rules run in between in an arbitrary order.
//
// Input: byte 0 gives the number k (1..8) of control bytes that follow; the rest
// is the byte stream from the device. The control bytes are used in a cycle,
// one per step: the low four bits choose the step, the high four its size (the
// length of an appended chunk, or the cap).

#include "fuzz_check.h"
#include "link/receive_buffer.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace {

constexpr int MaxControlBytes = 8;
constexpr int CapStep = 8; // bytes per unit of a cap taken from a control byte

const QByteArray AnswerStart("\xFF\xFE", 2);
const QByteArray BroadcastStart("\xFF\xFD", 2);

// The first frame starting with `prefix` is complete in `buffer`.
bool HasCompleteFrame(const QByteArray &buffer, const QByteArray &prefix)
{
    const qsizetype start = buffer.indexOf(prefix);
    if (start < 0 || start + 2 >= buffer.size())
        return false;
    return buffer.size() - start
        >= ReceiveBuffer::FrameLength(static_cast<quint8>(buffer.at(start + 2)));
}

// A message cut from `before` is the frame after the first `prefix`: its
// first byte is that frame's header, its length follows from the header.
void CheckCutMessage(const QByteArray &before, const QByteArray &prefix, const QByteArray &message)
{
    const qsizetype start = before.indexOf(prefix);
    QX_FUZZ_CHECK(start >= 0 && start + 2 < before.size());
    const auto header = static_cast<quint8>(before.at(start + 2));
    QX_FUZZ_CHECK(message.size() == (header & 15) + 2);
    QX_FUZZ_CHECK(static_cast<quint8>(message.at(0)) == header);
    QX_FUZZ_CHECK(before.mid(start + 2, message.size()) == message);
}

void Append(QByteArray &buffer, const QByteArray &chunk)
{
    const QByteArray before = buffer;
    buffer.append(chunk);
    QX_FUZZ_CHECK(buffer == before + chunk);
}

void DropStaleAnswers(QByteArray &buffer)
{
    const qsizetype sizeBefore = buffer.size();
    ReceiveBuffer::DropStaleAnswers(buffer);
    QX_FUZZ_CHECK(buffer.size() <= sizeBefore);
    QX_FUZZ_CHECK(!buffer.contains(AnswerStart));
}

void TakeAnswer(QByteArray &buffer)
{
    const QByteArray before = buffer;
    const std::optional<QByteArray> message = ReceiveBuffer::TakeAnswer(buffer);
    QX_FUZZ_CHECK(message.has_value() == HasCompleteFrame(before, AnswerStart));
    if (!message) {
        QX_FUZZ_CHECK(buffer == before);
        return;
    }
    CheckCutMessage(before, AnswerStart, *message);
    QX_FUZZ_CHECK(buffer.size() <= before.size() - message->size() - 2);
}

void TakeBroadcast(QByteArray &buffer)
{
    const QByteArray before = buffer;
    const std::optional<QByteArray> message = ReceiveBuffer::TakeBroadcast(buffer);
    QX_FUZZ_CHECK(message.has_value() == HasCompleteFrame(before, BroadcastStart));
    if (!message) {
        QX_FUZZ_CHECK(buffer == before);
        return;
    }
    CheckCutMessage(before, BroadcastStart, *message);
    // Only the frame goes; the bytes before and after it join up.
    const qsizetype start = before.indexOf(BroadcastStart);
    QX_FUZZ_CHECK(buffer == before.left(start) + before.mid(start + 2 + message->size()));
}

void CleanUpAnswerPieces(QByteArray &buffer)
{
    const QByteArray before = buffer;
    ReceiveBuffer::CleanUpAnswerPieces(buffer);
    QX_FUZZ_CHECK(buffer.size() <= before.size());
    if (!before.contains(AnswerStart))
        QX_FUZZ_CHECK(buffer == before);
}

void EmptyWithoutFrameByte(QByteArray &buffer)
{
    const QByteArray before = buffer;
    ReceiveBuffer::EmptyWithoutFrameByte(buffer);
    QX_FUZZ_CHECK(buffer.isEmpty() || buffer.contains('\xFF'));
    if (before.contains('\xFF'))
        QX_FUZZ_CHECK(buffer == before);
}

void ApplyCap(QByteArray &buffer, int cap)
{
    const QByteArray before = buffer;
    ReceiveBuffer::ApplyCap(buffer, cap);
    QX_FUZZ_CHECK(buffer.size() <= cap);
    if (before.size() <= cap)
        QX_FUZZ_CHECK(buffer == before);
    else // what is kept is the end of what was there
        QX_FUZZ_CHECK(before.endsWith(buffer));
}

// Runs the step chosen by `control`; true when it appended.
bool RunStep(QByteArray &buffer, quint8 control, const QByteArray &stream, qsizetype &read)
{
    const int operation = control & 15;
    const int size = control >> 4;
    switch (operation) {
    case 7:
        DropStaleAnswers(buffer);
        return false;
    case 8:
        TakeAnswer(buffer);
        return false;
    case 9:
        TakeBroadcast(buffer);
        return false;
    case 10:
        EmptyWithoutFrameByte(buffer);
        return false;
    case 11:
        ApplyCap(buffer, size * CapStep);
        return false;
    case 12:
        CleanUpAnswerPieces(buffer);
        return false;
    default: {
        const QByteArray chunk = stream.mid(read, size + 1);
        read += chunk.size();
        Append(buffer, chunk);
        return true;
    }
    }
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
    qsizetype read = 0;
    // Cycle through the control bytes until the stream is used up, then once
    // more so the last bytes meet every rule too. A cycle that never appends
    // ends the loop.
    for (;;) {
        bool appended = false;
        for (int i = 0; i < controlCount; ++i)
            appended = RunStep(buffer, control[i], stream, read) || appended;
        if (read >= stream.size() || !appended)
            break;
    }
    for (int i = 0; i < controlCount; ++i)
        RunStep(buffer, control[i], stream, read);
    return 0;
}

#pragma once

#include <QByteArray>
#include <optional>

// The rules that cut the receive buffer InpStr. Pure functions: each takes the
// buffer, removes what it consumes and returns what it cut. Frame starts are
// compared byte for byte: FF FE (answer) and FF FD (broadcast).
//
// A frame is FF, FE or FD, then a message: header byte H, (H & 15) data bytes,
// one check byte; n + 4 bytes in all. The check byte is never verified.
namespace ReceiveBuffer {

constexpr int Cap = 64 * 1024;

// The message that stands for a missing answer: 01 01 00.
QByteArray TimeoutAnswer();

// Length of a whole frame whose header byte is `header`.
inline int FrameLength(quint8 header)
{
    return (header & 15) + 4;
}

// Before a request is written: every answer frame already in the buffer
// answers nothing, so it goes. From each FF FE the bytes go up to the frame's
// end by its header, the next frame start, or the buffer's end, whichever comes
// first. Broadcast frames stay.
void DropStaleAnswers(QByteArray &buffer);

// The first complete answer frame's message (without FF FE), cut out of the
// buffer, followed by the clean-up of left-over answer pieces; nothing, and the
// buffer unchanged, when no complete answer frame stands first.
std::optional<QByteArray> TakeAnswer(QByteArray &buffer);

// Clean-up after an answer was cut: from each FF FE, the bytes up to the next
// frame start (FF FE or FF FD, the nearer one) go; a piece with no frame start
// after it stays. The header moved to the position of a removal is not looked
// at again.
void CleanUpAnswerPieces(QByteArray &buffer);

// The first broadcast frame's message (without FF FD) when that frame is
// complete, cut out of the buffer; nothing otherwise.
std::optional<QByteArray> TakeBroadcast(QByteArray &buffer);

// A buffer with no byte FF left holds no frame start now or later: empty it.
void EmptyWithoutFrameByte(QByteArray &buffer);

// Keeps the buffer within `cap` bytes: past it the bytes before the last frame
// start are dropped, and if that is not enough, or there is none, it is emptied.
void ApplyCap(QByteArray &buffer, int cap = Cap);

} // namespace ReceiveBuffer

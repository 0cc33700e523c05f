#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

// The rules that read the receive buffer InpStr. Pure functions: each takes the
// buffer and says what it consumed; the caller keeps the rest. Frame starts are
// compared byte for byte: FF FE (answer) and FF FD (broadcast).
//
// A frame is FF, FE or FD, then a message: header byte H, (H & 15) data bytes,
// one check byte; n + 4 bytes in all.
namespace ReceiveBuffer {

// Length of a whole frame whose header byte is `header`.
inline int FrameLength(quint8 header)
{
    return (header & 15) + 4;
}

// Whether a message's check byte is the XOR of its header and data bytes.
bool CheckByteAgrees(QByteArrayView message);

// A complete frame as a span of the buffer it was read from (no copy: a burst
// of broadcasts costs no allocation per frame).
struct Frame
{
    enum class Kind
    {
        Answer,
        Broadcast
    };

    Kind kind = Kind::Answer;
    qsizetype start = 0; // where its message (header, data, check byte) begins
    qsizetype length = 0; // of the message, without the frame start

    QByteArrayView message(QByteArrayView buffer) const { return buffer.sliced(start, length); }
};

// The length of a message whose header byte is `header`: header, data, check byte.
inline int MessageLength(quint8 header)
{
    return (header & 15) + 2;
}

struct Reading
{
    std::vector<Frame> frames; // the complete frames, in the order they arrived
    qsizetype consumed = 0; // bytes at the front that are frames or noise; the rest waits
};

// Reads the buffer from its start as a sequence of frames, each frame's header
// telling where the next may begin:
//  - bytes before a frame start are noise (a last FF waits: it may begin one);
//  - a complete frame whose extent holds no other frame start is a frame, its
//    check byte unverified;
//  - a complete frame whose extent holds another frame start (one whose FF lies
//    within it) is a frame only if its check byte agrees; otherwise it is a
//    piece, and its bytes up to that inner start are noise (a piece of an
//    answer never swallows a broadcast, and FF FE in a genuine broadcast's
//    data is data);
//  - an incomplete frame waits for its bytes, and so does everything after it.
Reading ReadFrames(QByteArrayView buffer);

// Before a request is written: every answer frame already in the buffer
// answers nothing, so it goes. From each FF FE the bytes go up to the frame's
// end by its header, the next frame start, or the buffer's end, whichever comes
// first. Broadcast frames stay.
void DropStaleAnswers(QByteArray &buffer);

// Keeps the buffer within `cap` bytes: past it the bytes before the last frame
// start are dropped, and if that is not enough, or there is none, it is emptied.
void ApplyCap(QByteArray &buffer, int cap = Protocol::ReceiveBufferCap);

} // namespace ReceiveBuffer

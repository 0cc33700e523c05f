#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

// The rule that reads the receive buffer InpStr. A pure function: it takes the
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

// The length of a message whose header byte is `header`: header, data, check byte.
inline int MessageLength(quint8 header)
{
    return (header & 15) + 2;
}

// Whether a message's check byte is the XOR of its header and data bytes.
bool CheckByteAgrees(QByteArrayView message);

// A run of the buffer as it was read: a complete frame, or noise (bytes that
// begin no frame, or a piece of one). A span of the buffer, no copy: a burst of
// broadcasts costs no allocation per frame.
struct Span
{
    enum class Kind
    {
        Answer,
        Broadcast,
        Noise
    };

    Kind kind = Kind::Noise;
    qsizetype start = 0; // where it begins; a frame at its FF
    qsizetype length = 0; // a frame's with its frame start

    QByteArrayView bytes(QByteArrayView buffer) const { return buffer.sliced(start, length); }
    // A frame's message: header, data, check byte.
    QByteArrayView message(QByteArrayView buffer) const
    {
        return buffer.sliced(start + 2, length - 2);
    }
};

struct Reading
{
    std::vector<Span> spans; // frames and noise, in the order they arrived
    qsizetype consumed = 0; // bytes at the front that are frames or noise; the rest waits
};

// Whether more bytes may still be on their way to complete a frame, or the line
// has been quiet for the frame gap.
enum class Line
{
    Active,
    Quiet
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
//  - on an active line an incomplete frame waits for its bytes, and so does
//    everything after it;
//  - on a quiet line nothing waits: an incomplete frame is a piece, and its
//    bytes up to the next frame start after its own are noise.
// What waits is thus at most one incomplete frame, never more than a frame's length.
Reading ReadFrames(QByteArrayView buffer, Line line = Line::Active);
// The same into `spans`, whose room is kept from one reading to the next; what it consumed.
qsizetype ReadFrames(QByteArrayView buffer, Line line, std::vector<Span> &spans);

} // namespace ReceiveBuffer

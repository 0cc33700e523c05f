#include "broadcast_service.h"

#include "core/hex_line.h"
#include "core/protocol.h"
#include "core/receive_buffer.h"
#include "core/slot_search.h"

BroadcastService::BroadcastService(ServerState &state, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_connections(
          QStringLiteral("broadcast"), state.BcInUse, state.BcLastTime, state.MaxConn, clock,
          [this] {
              // Even a refused client learns why the device is busy.
              return ConnectionSlots::Admission {
                  m_state.ProgMode ? HexLine(Protocol::ProgModeNotice()).repeated(2) : QByteArray(),
                  {}
              };
          },
          this)
{ }

void BroadcastService::SubmitBC(const QByteArray &zeile)
{
    send(HexLine(zeile));
}

void BroadcastService::SubmitBurst(QByteArrayView messages)
{
    // Two digits a byte and a line end: at most three characters a byte, as every message has
    // two bytes or more.
    QByteArray lines(3 * messages.size(), Qt::Uninitialized);
    char *out = lines.data();
    for (qsizetype at = 0; at < messages.size();) {
        const qsizetype length = ReceiveBuffer::MessageLength(static_cast<quint8>(messages[at]));
        out = WriteHexLine(out, messages.sliced(at, length));
        at += length;
    }
    lines.truncate(out - lines.data());
    send(lines);
}

void BroadcastService::send(const QByteArray &lines)
{
    for (int slot = 1; slot <= LastConnectionSlot; ++slot) {
        if (m_state.BcInUse[slot] == 1)
            m_connections.write(slot, lines);
    }
}

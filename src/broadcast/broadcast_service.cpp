#include "broadcast_service.h"

#include "core/hex_line.h"
#include "core/protocol.h"
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
    SubmitBC(QByteArrayList { zeile });
}

void BroadcastService::SubmitBC(const QByteArrayList &messages)
{
    qsizetype length = 0;
    for (const QByteArray &message : messages)
        length += HexLineLength(message);
    QByteArray lines;
    lines.reserve(length);
    for (const QByteArray &message : messages)
        AppendHexLine(lines, message);
    for (int slot = 1; slot <= LastConnectionSlot; ++slot) {
        if (m_state.BcInUse[slot] == 1)
            m_connections.write(slot, lines);
    }
}

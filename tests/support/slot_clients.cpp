#include "slot_clients.h"

#include "tcp_client.h"

#include <QTest>
#include <algorithm>

int ConnectIntoSlot(TcpClient &client, quint16 port, const SlotFlags &flags, int timeoutMs)
{
    const SlotFlags before = flags;
    if (!client.connectTo(port) || !QTest::qWaitFor([&] { return flags != before; }, timeoutMs))
        return 0;
    for (int slot = 1; slot < SlotCount; ++slot) {
        if (before[slot] == 0 && flags[slot] == 1)
            return slot;
    }
    return 0;
}

int CountInUse(const SlotFlags &flags)
{
    return int(std::count(flags.begin(), flags.end(), 1));
}

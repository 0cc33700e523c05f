#include "slot_search.h"

int FindFreeSlot(const SlotFlags &inUse, int maxConn)
{
    for (int slot = 1; slot <= maxConn; ++slot) {
        if (inUse[slot] == 0)
            return slot;
    }
    return maxConn + 1;
}

#include "prog_mode.h"

#include "core/protocol.h"

ProgModeEffect ClassifyProgMode(const QByteArray &command)
{
    static const QByteArray enterPatterns[] = {
        QByteArray("\x22\x11", 2),
        QByteArray("\x22\x15", 2),
        QByteArray("\x23\x12", 2),
        QByteArray("\x23\x16", 2),
        QByteArray("\x23\x17", 2),
    };
    for (const QByteArray &pattern : enterPatterns) {
        if (command.startsWith(pattern))
            return ProgModeEffect::Enter;
    }
    if (command.startsWith(Protocol::LeaveProgModeCommand()))
        return ProgModeEffect::Leave;
    return ProgModeEffect::None;
}

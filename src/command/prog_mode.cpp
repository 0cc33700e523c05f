#include "prog_mode.h"

ProgModeEffect ClassifyProgMode(const QByteArray &command)
{
    static const QByteArray enterPatterns[] = {
        QByteArray("\x22\x11", 2), QByteArray("\x22\x15", 2), QByteArray("\x23\x12", 2),
        QByteArray("\x23\x16", 2), QByteArray("\x23\x17", 2),
    };
    for (const QByteArray &pattern : enterPatterns) {
        if (command.startsWith(pattern))
            return ProgModeEffect::Enter;
    }
    if (command.startsWith(QByteArray("\x21\x81\xA0", 3)))
        return ProgModeEffect::Leave;
    return ProgModeEffect::None;
}

QByteArray ProgModeNotice()
{
    return QByteArray("\x61\x02\x63", 3);
}

QByteArray LeaveProgModeLine()
{
    return QByteArrayLiteral("2181A0");
}

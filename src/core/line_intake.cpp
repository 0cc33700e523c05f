#include "line_intake.h"

#include "core/protocol.h"

LineIntake TakeText(QByteArray &buffer, bool &discarding, const QByteArray &data)
{
    LineIntake intake;
    qsizetype from = 0;
    while (from < data.size()) {
        const qsizetype cr = data.indexOf('\r', from);
        if (discarding) {
            if (cr < 0)
                break;
            discarding = false;
            from = cr + 1;
            continue;
        }
        const qsizetype textEnd = cr < 0 ? data.size() : cr;
        if (buffer.size() + (textEnd - from) > Protocol::MaxLineLength) {
            ++intake.overlongLines;
            buffer.clear();
            discarding = true;
            continue;
        }
        if (cr < 0) {
            buffer.append(data.mid(from));
            break;
        }
        buffer.append(data.mid(from, cr + 1 - from));
        intake.lineComplete = true;
        break;
    }
    return intake;
}

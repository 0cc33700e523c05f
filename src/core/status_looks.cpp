#include "status_looks.h"

#include "core/string_table.h"

namespace {

QString Text(int baseId)
{
    return LocalText(baseId).value_or(QString());
}

} // namespace

QString RunningCaption()
{
    return Text(TextId::ServerRunning) + QStringLiteral(" ....");
}

QString StoppedCaption()
{
    return Text(TextId::ServerStopped);
}

QString SearchingPortCaption(int portNumber)
{
    return Text(TextId::SearchingInterface) + QStringLiteral(" ... ") + QString::number(portNumber);
}

StatusLook SearchingLook()
{
    return { Text(TextId::SearchingInterface) + QStringLiteral(" ..."), ColorYellow, ColorBlack };
}

StatusLook RunningLook()
{
    return { RunningCaption(), ColorGreen, ColorButtonHighlight };
}

StatusLook StoppedLook()
{
    return { StoppedCaption(), ColorRed, ColorButtonHighlight };
}

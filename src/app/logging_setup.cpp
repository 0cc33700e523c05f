#include "logging_setup.h"

#include <QLoggingCategory>

void SetUpLogging(bool verbose)
{
    qSetMessagePattern(QStringLiteral(
        "%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-warning}warning: %{endif}%{if-critical}error: "
        "%{endif}%{message}"));
    QLoggingCategory::setFilterRules(
        verbose ? QStringLiteral("qx.*.debug=true") : QStringLiteral("qx.*.debug=false"));
}

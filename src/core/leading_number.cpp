#include "leading_number.h"

#include <QRegularExpression>
#include <cmath>

double LeadingNumber(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral("^[ \\t]*([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return 0.0;
    bool ok = false;
    const double value = match.captured(1).toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

qint64 RoundHalfEven(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e15)
        return 0;
    return static_cast<qint64>(std::nearbyint(value)); // default rounding mode: to even
}

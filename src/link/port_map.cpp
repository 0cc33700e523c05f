#include "port_map.h"

#include "core/protocol.h"

QString PortMap::path(int number) const
{
    const auto it = m_overrides.constFind(number);
    if (it != m_overrides.constEnd())
        return *it;
    // Pinned: a number not given names no device, so that nothing (a stored "LCP" among them)
    // ever opens another serial device of the machine.
    if (!m_overrides.isEmpty())
        return QString();
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    if (number < Protocol::FirstPortNumber || number > Protocol::LastPortNumber)
        return QString();
    static const char *const families[] = { "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS" };
    const int index = number - 1;
    return QLatin1String(families[index / 10]) + QString::number(index % 10);
#endif
}

QList<int> PortMap::searchNumbers() const
{
    if (!m_overrides.isEmpty())
        return m_overrides.keys();
    QList<int> numbers;
    for (int number = Protocol::FirstPortNumber; number <= Protocol::LastPortNumber; ++number)
        numbers.append(number);
    return numbers;
}

bool PortMap::addOverride(const QString &assignment, QString *error)
{
    const qsizetype equals = assignment.indexOf(QLatin1Char('='));
    bool ok = false;
    const int number = equals > 0 ? assignment.left(equals).toInt(&ok) : 0;
    const QString path = equals > 0 ? assignment.mid(equals + 1) : QString();
    if (!ok || number < Protocol::FirstPortNumber || number > Protocol::LastPortNumber
        || path.isEmpty()) {
        if (error)
            *error = QStringLiteral("--port expects K=PATH with K from 1 to 30, got \"%1\"")
                         .arg(assignment);
        return false;
    }
    // Which of two paths would be meant is anybody's guess.
    if (isPathSet(number)) {
        if (error)
            *error = QStringLiteral("--port gives port %1 more than once (\"%2\")")
                         .arg(number)
                         .arg(assignment);
        return false;
    }
    setPath(number, path);
    return true;
}

#include "program_options.h"

#include <QCommandLineParser>

QString HelpText(
    const QCommandLineParser &parser, const QString &usage, const QString &exitStatuses)
{
    const QString generic = parser.helpText();
    return usage + generic.mid(generic.indexOf(QLatin1Char('\n')) + 1) + exitStatuses;
}

QCommandLineOption HelpOption()
{
    return { { QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Show this help and exit.") };
}

QCommandLineOption VersionOption()
{
    return { QStringLiteral("version"), QStringLiteral("Show the version and exit.") };
}

QString VersionText(const QString &program)
{
    return QStringLiteral("%1 %2\n").arg(program, QStringLiteral(QX_VERSION));
}

QString RepeatedOption(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options) {
        if (parser.values(option).size() > 1)
            return QStringLiteral("--%1 given more than once").arg(option.names().constLast());
    }
    return QString();
}

bool ParseTcpPort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

#include "load_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

constexpr int ShortSeconds = 20;
constexpr int LongSeconds = 300;
constexpr qint64 DefaultMemoryLimitMb = 200;

bool ReadPositive(const QCommandLineParser &parser, const QString &name, qint64 &value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toLongLong(&ok);
    if (ok && value > 0)
        return true;
    std::fprintf(stderr, "qx-load: --%s needs a whole number above 0\n", qPrintable(name));
    return false;
}

} // namespace

std::optional<LoadOptions> ParseLoadOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Load and fault test of qx-server: 100 command clients with tagged commands, 100 "
        "broadcast readers of numbered broadcasts, clients that send junk and overlong lines, "
        "vanish or never read, a device that floods garbage and is unplugged and plugged in "
        "again. Exit status 0 when the server came through sound."));
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("server"), QStringLiteral("The qx-server program."),
            QStringLiteral("path"), QStringLiteral(QX_LOAD_SERVER) },
        { QStringLiteral("long"),
            QStringLiteral("The long form: %1 s of storm, four faults of each kind, and enough "
                           "broadcasts that clients that never read are closed as slow readers.")
                .arg(LongSeconds) },
        { QStringLiteral("seconds"),
            QStringLiteral("Seconds of storm (default %1, long form %2).")
                .arg(ShortSeconds)
                .arg(LongSeconds),
            QStringLiteral("n") },
        { QStringLiteral("memory-limit"),
            QStringLiteral("Highest VmRSS of the server allowed, in MB (default %1).")
                .arg(DefaultMemoryLimitMb),
            QStringLiteral("mb") },
    });
    parser.process(app);
    LoadOptions options;
    options.server = parser.value(QStringLiteral("server"));
    options.longForm = parser.isSet(QStringLiteral("long"));
    qint64 seconds = options.longForm ? LongSeconds : ShortSeconds;
    qint64 limitMb = DefaultMemoryLimitMb;
    if (!ReadPositive(parser, QStringLiteral("seconds"), seconds)
        || !ReadPositive(parser, QStringLiteral("memory-limit"), limitMb))
        return std::nullopt;
    options.seconds = int(seconds);
    options.memoryLimitBytes = limitMb * 1000 * 1000;
    if (!QFileInfo(options.server).isExecutable()) {
        std::fprintf(
            stderr, "qx-load: %s is not an executable program\n", qPrintable(options.server));
        return std::nullopt;
    }
    return options;
}

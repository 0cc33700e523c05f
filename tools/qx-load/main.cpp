// qx-load: the load and fault storm of qx-server, short by default (CI's smoke run); --long
// drives enough traffic for long enough to reach every limit.

#include "load_run.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

constexpr int ShortSeconds = 20;
constexpr int LongSeconds = 300;
constexpr int DefaultMemoryLimitMb = 200;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx-load"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Load and fault storm of qx-server (next to this build) with the simulated device: 100 "
        "command clients with tagged commands, ~100 readers of numbered broadcasts, clients that "
        "send junk and overlong lines, vanish or never read, a device that floods garbage and is "
        "unplugged for a moment. Exit status 0 when every rule held."));
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("long"),
            QStringLiteral("%1 s of storm instead of %2, four faults of each kind, and enough "
                           "broadcasts that clients that never read are closed as slow readers.")
                .arg(LongSeconds)
                .arg(ShortSeconds) },
        { QStringLiteral("memory-limit"),
            QStringLiteral("Highest VmRSS of the server allowed, in MB (default %1).")
                .arg(DefaultMemoryLimitMb),
            QStringLiteral("mb"), QString::number(DefaultMemoryLimitMb) },
    });
    parser.process(app);
    LoadRun::Options options;
    options.longForm = parser.isSet(QStringLiteral("long"));
    options.seconds = options.longForm ? LongSeconds : ShortSeconds;
    options.memoryLimitBytes
        = parser.value(QStringLiteral("memory-limit")).toLongLong() * 1000 * 1000;
    if (options.memoryLimitBytes <= 0) {
        std::fprintf(stderr, "qx-load: --memory-limit needs a whole number above 0\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN); // clients that vanish are the point of the run

    LoadRun run(options);
    QObject::connect(&run, &LoadRun::finished, &app, &QCoreApplication::exit);
    run.start();
    return app.exec();
}

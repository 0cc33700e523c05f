// qx-load: the load and fault storm of qx-server, short by default (CI's smoke run); --long
// drives enough traffic for long enough to reach every limit.

#include "load_run.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    constexpr int ShortSeconds = 20;
    constexpr int LongSeconds = 300;
    constexpr int DefaultMemoryLimitMb = 200;
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Load and fault storm of qx-server (next to this build) with the simulated device. Exit "
        "status 0 when every rule held."));
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("long"),
            QString::asprintf("%d s of storm instead of %d, four faults of each kind, and enough "
                              "broadcasts that clients that never read are closed as slow readers.",
                LongSeconds, ShortSeconds) },
        { QStringLiteral("memory-limit"),
            QString::asprintf(
                "Highest VmRSS of the server allowed, in MB (default %d).", DefaultMemoryLimitMb),
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

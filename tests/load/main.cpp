// qx-load: the load and fault test of qx-server. The short form runs in the test suite; the
// long form (--long) drives enough traffic to reach every limit.

#include "load_options.h"
#include "load_run.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx-load"));
    const std::optional<LoadOptions> options = ParseLoadOptions(app);
    if (!options)
        return 2;
    ::signal(SIGPIPE, SIG_IGN); // clients that vanish are the point of the run

    LoadRun run(*options);
    int status = 1;
    QObject::connect(&run, &LoadRun::finished, &app, [&status](bool passed) {
        status = passed ? 0 : 1;
        QCoreApplication::quit();
    });
    run.start();
    app.exec();
    return status;
}

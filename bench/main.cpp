// qx-bench: measures qx-server against the simulated device, side by side with the pty itself
// and with socat, and prints the figures and the targets.

#include "bench_options.h"
#include "bench_run.h"
#include "report.h"
#include "targets.h"

#include <QCoreApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx-bench"));
    const std::optional<BenchOptions> options = ParseBenchOptions(app);
    if (!options)
        return 2;
    ::signal(SIGPIPE, SIG_IGN); // a closed connection is a figure, not the end of the run

    BenchRun run(*options);
    int status = 2;
    QObject::connect(&run, &BenchRun::finished, &app, [&](bool ranAtAll) {
        const QList<TargetCheck> checks = Targets::Evaluate(run.results());
        const QString report = Report::Render(run.results(), checks, options->markdown);
        std::printf("%s", report.toUtf8().constData());
        std::fflush(stdout);
        const bool allPassed = std::all_of(checks.cbegin(), checks.cend(),
            [](const TargetCheck &check) { return check.pass.value_or(false); });
        status = !ranAtAll ? 2 : allPassed ? 0 : 1;
        QCoreApplication::quit();
    });
    run.start();
    app.exec();
    return status;
}

// qx-bench: measures qx-server against the simulated device, side by side with the device's pty
// itself and with socat as a raw TCP-to-serial bridge, and judges the server's targets.

#include "bench_run.h"
#include "report.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx-bench"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures qx-server against the simulated device, side by side with the device's pty "
        "itself and socat as a raw TCP-to-serial bridge. Prints the figures and the targets with "
        "PASS or FAIL; exit status 0 when every target of every run is met."));
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("markdown"), QStringLiteral("Print the tables in Markdown.") },
        { QStringLiteral("runs"), QStringLiteral("Repeat the whole run <n> times (default 1)."),
            QStringLiteral("n"), QStringLiteral("1") },
        { QStringLiteral("server"),
            QStringLiteral("The qx-server program to measure (default: the one of this build)."),
            QStringLiteral("path"), QStringLiteral(QX_BENCH_SERVER) },
    });
    parser.process(app);
    const bool markdown = parser.isSet(QStringLiteral("markdown"));
    const int runs = parser.value(QStringLiteral("runs")).toInt();
    if (runs < 1) {
        std::fprintf(stderr, "qx-bench: --runs needs a whole number above 0\n");
        return 2;
    }
    const QFileInfo server(parser.value(QStringLiteral("server")));
    if (!server.isFile() || !server.isExecutable()) {
        std::fprintf(
            stderr, "qx-bench: --server: %s is no program\n", qPrintable(server.filePath()));
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN); // a closed connection is a failed step, not the end of the run

    const QString machine = QStringLiteral("Machine: %1\nqx-server: %2")
                                .arg(DescribeMachine(), server.absoluteFilePath());
    int run = 0;
    bool allPassed = true;
    std::function<void()> startRun = [&] {
        auto *bench = new BenchRun(server.absoluteFilePath(), &app);
        bench->start([&, bench](const Figures &figures) {
            ++run;
            const QString title = runs > 1
                ? QStringLiteral("Run %1 of %2. %3").arg(run).arg(runs).arg(machine)
                : machine;
            const Report report = RenderReport(figures, title, markdown);
            std::printf("%s\n", qPrintable(report.text));
            std::fflush(stdout);
            allPassed = allPassed && report.passed;
            bench->deleteLater();
            if (run < runs)
                startRun();
            else
                QCoreApplication::quit();
        });
    };
    startRun();
    app.exec();
    return allPassed ? 0 : 1;
}

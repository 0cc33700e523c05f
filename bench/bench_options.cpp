#include "bench_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

std::optional<BenchOptions> ParseBenchOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures qx-server against the simulated device and compares it, in the same run, with "
        "talking to the device's pty directly and with socat as a raw TCP-to-serial bridge. "
        "Prints the figures and the targets with PASS or FAIL; exit status 0 when every target "
        "is met."));
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("server"), QStringLiteral("The qx-server program."),
            QStringLiteral("path"), QStringLiteral(QX_BENCH_SERVER) },
        { QStringLiteral("sim"), QStringLiteral("The qx-sim program."), QStringLiteral("path"),
            QStringLiteral(QX_BENCH_SIM) },
        { QStringLiteral("socat"), QStringLiteral("The socat program (default: from PATH)."),
            QStringLiteral("path") },
        { QStringLiteral("markdown"), QStringLiteral("Print the tables in Markdown.") },
    });
    parser.process(app);
    BenchOptions options;
    options.server = parser.value(QStringLiteral("server"));
    options.sim = parser.value(QStringLiteral("sim"));
    options.socat = parser.isSet(QStringLiteral("socat"))
        ? parser.value(QStringLiteral("socat"))
        : QStandardPaths::findExecutable(QStringLiteral("socat"));
    options.markdown = parser.isSet(QStringLiteral("markdown"));
    for (const QString &program : { options.server, options.sim }) {
        if (!QFileInfo(program).isExecutable()) {
            std::fprintf(
                stderr, "qx-bench: %s is not an executable program\n", qPrintable(program));
            return std::nullopt;
        }
    }
    return options;
}

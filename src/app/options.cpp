#include "options.h"

#include <QCommandLineParser>

namespace {

const char ExitStatusHelp[] = R"(
Exit status:
  0  ended: by SIGINT, SIGTERM or SIGHUP, from the window, or as a second
     instance with the same settings (which ends at once)
  1  cannot serve: a service cannot listen (its port is taken, or the
     --listen address is not on this machine), or the settings path is not a
     regular file
  2  bad command line
)";

bool ParsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

ParsedOptions Failure(const QString &text)
{
    ParsedOptions parsed;
    parsed.exitNow = true;
    parsed.exitStatus = 2;
    parsed.output
        = QStringLiteral("qx-server: %1\nTry 'qx-server --help' for more information.\n").arg(text);
    return parsed;
}

} // namespace

ParsedOptions ParseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Puts one QX-USB interface device on the network.\n"
        "Clients send commands as hex lines to the command service and get the device's\n"
        "answers; every unsolicited device message goes to all broadcast clients.\n"
        "Without options the desktop window opens; with --headless the server starts at once\n"
        "and logs to standard error."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption headless(QStringLiteral("headless"),
        QStringLiteral("No window: start the server at once, log to standard error, and keep "
                       "searching until the device answers."));
    const QCommandLineOption settings(QStringLiteral("settings"),
        QStringLiteral("Keep the settings in this INI file (created when written)."),
        QStringLiteral("FILE"));
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("Serial port number K (1-30) is the device PATH, e.g. "
                       "1=/dev/serial/by-id/usb-...; repeatable. Once given, the device is "
                       "searched on the given ports only, and no other serial device is probed. "
                       "Defaults: 1-10 /dev/ttyUSB0-9, 11-20 /dev/ttyACM0-9, 21-30 /dev/ttyS0-9, "
                       "all searched."),
        QStringLiteral("K=PATH"));
    const QCommandLineOption simulate(QStringLiteral("simulate"),
        QStringLiteral("Attach a simulated QX-USB device as port 1 (no hardware needed)."));
    const QCommandLineOption commandPort(QStringLiteral("command-port"),
        QStringLiteral("TCP port of the command service "
                       "(default 5550)."),
        QStringLiteral("N"));
    const QCommandLineOption broadcastPort(QStringLiteral("broadcast-port"),
        QStringLiteral("TCP port of the broadcast service "
                       "(default 5551)."),
        QStringLiteral("N"));
    const QCommandLineOption listen(QStringLiteral("listen"),
        QStringLiteral("Listen on this address only (default: all "
                       "addresses)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
        QStringLiteral("Also log every frame to and from the device, "
                       "in hex."));
    parser.addOptions({ headless, settings, port, simulate, commandPort, broadcastPort, listen,
        verbose, help, version });

    if (!parser.parse(arguments))
        return Failure(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return Failure(QStringLiteral("unexpected argument \"%1\"")
                           .arg(parser.positionalArguments().constFirst()));

    ParsedOptions parsed;
    if (parser.isSet(help)) {
        parsed.exitNow = true;
        // The options are read before the application object exists, whose name the parser
        // would put into the usage line; the program's own name goes there.
        const QString text = parser.helpText();
        parsed.output = QStringLiteral("Usage: qx-server [options]")
            + text.mid(text.indexOf(QLatin1Char('\n'))) + QLatin1String(ExitStatusHelp);
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.exitNow = true;
        parsed.output = QStringLiteral("qx-server %1\n").arg(QStringLiteral(QX_VERSION));
        return parsed;
    }

    Options &options = parsed.options;
    options.headless = parser.isSet(headless);
    options.simulate = parser.isSet(simulate);
    options.verbose = parser.isSet(verbose);
    options.settingsFile = parser.value(settings);
    for (const QString &assignment : parser.values(port)) {
        QString error;
        if (!options.ports.addOverride(assignment, &error))
            return Failure(error);
    }
    if (parser.isSet(commandPort) && !ParsePort(parser.value(commandPort), &options.commandPort))
        return Failure(QStringLiteral("--command-port expects a TCP port from 1 to 65535"));
    if (parser.isSet(broadcastPort)
        && !ParsePort(parser.value(broadcastPort), &options.broadcastPort))
        return Failure(QStringLiteral("--broadcast-port expects a TCP port from 1 to 65535"));
    if (options.commandPort == options.broadcastPort)
        return Failure(QStringLiteral("the command and the broadcast service need two different "
                                      "TCP ports"));
    if (parser.isSet(listen) && !options.listenAddress.setAddress(parser.value(listen)))
        return Failure(
            QStringLiteral("--listen expects an IP address, got \"%1\"").arg(parser.value(listen)));
    return parsed;
}

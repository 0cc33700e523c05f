#include "options.h"

#include "app/simulation.h"

#include <QCommandLineParser>

namespace {

const QString Program = QStringLiteral("qx-server");

const char ExitStatusHelp[] = R"(
Exit status:
  0  ended: by SIGINT, SIGTERM or SIGHUP, from the window, or as a second
     instance with the same settings (which ends at once)
  1  cannot serve: a service cannot listen (its port is taken, or the
     --listen address is not on this machine), or the settings path is not a
     regular file
  2  bad command line
)";

// The options, declared once for the parser and for reading their values.
struct Declared
{
    QCommandLineOption help = HelpOption();
    QCommandLineOption version = VersionOption();
    QCommandLineOption headless { QStringLiteral("headless"),
        QStringLiteral("No window: start the server at once, log to standard error, and keep "
                       "searching until the device answers.") };
    QCommandLineOption settings { QStringLiteral("settings"),
        QStringLiteral("Keep the settings in this INI file (created when written)."),
        QStringLiteral("FILE") };
    QCommandLineOption port { QStringLiteral("port"),
        QStringLiteral("Serial port number K (1-30) is the device PATH, e.g. "
                       "1=/dev/serial/by-id/usb-...; repeatable. Once given, the device is "
                       "searched on the given ports only, and no other serial device is probed. "
                       "Defaults: 1-10 /dev/ttyUSB0-9, 11-20 /dev/ttyACM0-9, 21-30 /dev/ttyS0-9, "
                       "all searched."),
        QStringLiteral("K=PATH") };
    QCommandLineOption simulate { QStringLiteral("simulate"),
        QStringLiteral("Attach a simulated QX-USB device as port 1 (no hardware needed).") };
    QCommandLineOption commandPort { QStringLiteral("command-port"),
        QStringLiteral("TCP port of the command service (default %1).")
            .arg(Protocol::DefaultCommandPort),
        QStringLiteral("N") };
    QCommandLineOption broadcastPort { QStringLiteral("broadcast-port"),
        QStringLiteral("TCP port of the broadcast service (default %1).")
            .arg(Protocol::DefaultBroadcastPort),
        QStringLiteral("N") };
    QCommandLineOption listen { QStringLiteral("listen"),
        QStringLiteral("Listen on this address only (default: all addresses)."),
        QStringLiteral("ADDRESS") };
    QCommandLineOption verbose { QStringLiteral("verbose"),
        QStringLiteral("Also log every frame to and from the device, in hex.") };
};

void Describe(QCommandLineParser &parser, const Declared &declared)
{
    parser.setApplicationDescription(QStringLiteral(
        "Puts one QX-USB interface device on the network.\n"
        "Clients send commands as hex lines to the command service and get the device's\n"
        "answers; every unsolicited device message goes to all broadcast clients.\n"
        "Without options the desktop window opens; with --headless the server starts at once\n"
        "and logs to standard error."));
    parser.addOptions({ declared.headless, declared.settings, declared.port, declared.simulate,
        declared.commandPort, declared.broadcastPort, declared.listen, declared.verbose,
        declared.help, declared.version });
}

// The values of the options; an error text when one does not fit.
QString ReadValues(const QCommandLineParser &parser, const Declared &declared, Options &options)
{
    if (QString error = RepeatedOption(parser,
            { declared.settings, declared.commandPort, declared.broadcastPort, declared.listen });
        !error.isEmpty())
        return error;
    options.headless = parser.isSet(declared.headless);
    options.simulate = parser.isSet(declared.simulate);
    options.verbose = parser.isSet(declared.verbose);
    options.settingsFile = parser.value(declared.settings);
    for (const QString &assignment : parser.values(declared.port)) {
        QString error;
        if (!options.ports.addOverride(assignment, &error))
            return error;
    }
    if (options.simulate && options.ports.isPathSet(SimulatedPortNumber))
        return QStringLiteral("--simulate attaches the simulated device as port %1, which --port "
                              "gives as well")
            .arg(SimulatedPortNumber);
    if (parser.isSet(declared.commandPort)
        && !ParseTcpPort(parser.value(declared.commandPort), &options.commandPort))
        return QStringLiteral("--command-port expects a TCP port from 1 to 65535");
    if (parser.isSet(declared.broadcastPort)
        && !ParseTcpPort(parser.value(declared.broadcastPort), &options.broadcastPort))
        return QStringLiteral("--broadcast-port expects a TCP port from 1 to 65535");
    if (options.commandPort == options.broadcastPort)
        return QStringLiteral("the command and the broadcast service need two different TCP ports");
    if (parser.isSet(declared.listen)
        && !options.listenAddress.setAddress(parser.value(declared.listen)))
        return QStringLiteral("--listen expects an IP address, got \"%1\"")
            .arg(parser.value(declared.listen));
    return QString();
}

} // namespace

ParsedOptions ParseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Declared declared;
    Describe(parser, declared);
    if (!parser.parse(arguments))
        return ParsedOptions::usageError(Program, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return ParsedOptions::usageError(Program,
            QStringLiteral("unexpected argument \"%1\"")
                .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(declared.help))
        return ParsedOptions::leave(
            HelpText(parser, QStringLiteral("Usage: %1 [options]\n").arg(Program),
                QString::fromUtf8(ExitStatusHelp)));
    if (parser.isSet(declared.version))
        return ParsedOptions::leave(VersionText(Program));

    ParsedOptions parsed;
    if (const QString error = ReadValues(parser, declared, parsed.options); !error.isEmpty())
        return ParsedOptions::usageError(Program, error);
    return parsed;
}

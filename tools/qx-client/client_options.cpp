#include "client_options.h"

#include "exit_status.h"

#include <QCommandLineParser>

#include <limits>

namespace {

constexpr double MaxTimeoutSeconds = 24 * 60 * 60;

const char Synopsis[] = R"(Usage: qx-client [--host H] [--port P] [--timeout SECONDS] HEX...
       qx-client --listen [--reconnect] [--host H] [--port P] [--timeout SECONDS]
)";

// %1, %2: the two services' default ports.
const char Description[]
    = R"(A command-line client of qx-server, which puts a QX-USB interface device on
the network.

Sends each HEX command to the command service (default port %1) as one line
ended by CR, waits for its answer and prints the answer line on standard
output. The next command goes out only when the previous one has its answer;
the first failure ends the run. A command is 2 to 8 bytes written as 4 to 16
hex digits, e.g. 2181A0; the server ignores every other character, so
"21 81 a0" is the same command. Its first byte, the header, gives in its low
four bits the number n of data bytes: the command is exactly n + 2 bytes
(header, data, check byte), so 0000 and 2181A0 are commands, 0101 is not.

With --listen it prints every line of the broadcast service (default port
%2) as it comes. The server closes a connection that sends nothing for more
than 60 s, so the client sends one harmless byte every 30 s. SIGINT (Ctrl+C)
or SIGTERM ends it. With --reconnect as well it keeps listening when the
server goes away: it connects again every second until the server is back,
then goes on printing.)";

// %1: the most text that a line may hold.
const char ExitStatusHelp[] = R"(
Exit status:
  0  all went well (--listen: ended by SIGINT or SIGTERM)
  1  no connection for another reason (unknown host, no reply to the
     connection request within 10 s or --timeout)
  2  bad arguments
  3  the server found a command malformed (error answer 6180E1)
  4  the device did not answer (time-out answer 010100), or no answer
     came within 70 s or --timeout (answers in programming mode can take
     60 s)
  5  connection refused: nothing listens on the port (is qx-server running?),
     or the server refused the connection with "Sorry, I could not accept
     your connection request" (all its connections are in use, or a client
     is programming the device)
  6  the connection was lost before the answer (--listen: the server closed
     the connection)
  7  the server sent what no qx-server sends: an answer that is not a line
     of hex digits, or more than %1 bytes without a line end
With --listen --reconnect only a signal ends the client, with 0.
)";

// A whole number from 1 to `maximum`.
bool ParseCount(const QString &text, qint64 maximum, qint64 *value)
{
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || number < 1 || number > maximum)
        return false;
    *value = number;
    return true;
}

// A number of seconds above 0 and at most a day, fractions allowed ("0.5").
bool ParseSeconds(const QString &text, std::chrono::milliseconds *value)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds >= 0.001) || seconds > MaxTimeoutSeconds)
        return false;
    *value = std::chrono::milliseconds(qRound64(seconds * 1000));
    return true;
}

const QString Program = QStringLiteral("qx-client");

// The options, declared once for the parser and for reading their values.
struct Declared
{
    QCommandLineOption help = HelpOption();
    QCommandLineOption version = VersionOption();
    QCommandLineOption listen { QStringLiteral("listen"),
        QStringLiteral("Print the broadcast lines instead of sending commands.") };
    QCommandLineOption host { QStringLiteral("host"),
        QStringLiteral("Name or address of the server (default 127.0.0.1)."), QStringLiteral("H") };
    QCommandLineOption port { QStringLiteral("port"),
        QStringLiteral("TCP port of the service (default %1, with --listen %2).")
            .arg(Protocol::DefaultCommandPort)
            .arg(Protocol::DefaultBroadcastPort),
        QStringLiteral("P") };
    QCommandLineOption reconnect { QStringLiteral("reconnect"),
        QStringLiteral("With --listen: when the server goes away, connect again every second "
                       "until it is back, and go on listening.") };
    QCommandLineOption timeout { QStringLiteral("timeout"),
        QStringLiteral("Give up when the connection or an answer takes longer than SECONDS "
                       "(default: 10 s to connect, 70 s for an answer)."),
        QStringLiteral("SECONDS") };
    // For the tests: prove the keep-alive byte without waiting half a minute.
    QCommandLineOption keepAlive { QStringLiteral("keepalive-ms"), QString(), QStringLiteral("N") };
};

void Describe(QCommandLineParser &parser, Declared &declared)
{
    parser.setApplicationDescription(QString::fromUtf8(Description)
                                         .arg(Protocol::DefaultCommandPort)
                                         .arg(Protocol::DefaultBroadcastPort));
    declared.keepAlive.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({ declared.listen, declared.reconnect, declared.host, declared.port,
        declared.timeout, declared.help, declared.version, declared.keepAlive });
    parser.addPositionalArgument(QStringLiteral("HEX"),
        QStringLiteral("A command for the device, e.g. 2181A0."), QStringLiteral("HEX..."));
}

// Where to connect and how long to wait; an error text when a value does not fit.
QString ReadConnection(
    const QCommandLineParser &parser, const Declared &declared, ClientOptions &options)
{
    if (QString error = RepeatedOption(
            parser, { declared.host, declared.port, declared.timeout, declared.keepAlive });
        !error.isEmpty())
        return error;
    options.listen = parser.isSet(declared.listen);
    options.port = options.listen ? Protocol::DefaultBroadcastPort : Protocol::DefaultCommandPort;
    if (parser.isSet(declared.host)) {
        options.host = parser.value(declared.host).trimmed();
        if (options.host.isEmpty())
            return QStringLiteral("--host needs a name or an address");
    }
    if (parser.isSet(declared.port) && !ParseTcpPort(parser.value(declared.port), &options.port))
        return QStringLiteral("--port expects a TCP port from 1 to 65535");
    qint64 number = 0;
    if (parser.isSet(declared.keepAlive)) {
        if (!ParseCount(parser.value(declared.keepAlive), std::numeric_limits<int>::max(), &number))
            return QStringLiteral("--keepalive-ms expects a positive whole number");
        options.keepAliveInterval = std::chrono::milliseconds(number);
    }
    if (parser.isSet(declared.timeout)) {
        std::chrono::milliseconds limit {};
        if (!ParseSeconds(parser.value(declared.timeout), &limit))
            return QStringLiteral("--timeout expects a number of seconds above 0, at most 86400");
        options.connectTimeout = limit;
        options.answerTimeout = limit;
    }
    options.reconnect = parser.isSet(declared.reconnect);
    if (options.reconnect && !options.listen)
        return QStringLiteral("--reconnect goes with --listen only");
    return QString();
}

// The commands to send; an error text when they do not fit the mode.
QString ReadCommands(const QStringList &commands, ClientOptions &options)
{
    if (options.listen && !commands.isEmpty())
        return QStringLiteral("--listen takes no commands");
    if (!options.listen && commands.isEmpty())
        return QStringLiteral("no command given");
    for (const QString &command : commands) {
        // A line end inside an argument would make two requests of one.
        if (command.contains(QLatin1Char('\r')) || command.contains(QLatin1Char('\n')))
            return QStringLiteral("a command must be one line");
        options.commands << command.toUtf8();
    }
    return QString();
}

} // namespace

ParsedClientOptions ParseClientOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    Declared declared;
    Describe(parser, declared);
    const QString usage = QString::fromUtf8(Synopsis);
    if (!parser.parse(arguments))
        return ParsedClientOptions::usageError(Program, parser.errorText(), usage);
    if (parser.isSet(declared.help))
        return ParsedClientOptions::leave(HelpText(
            parser, usage, QString::fromUtf8(ExitStatusHelp).arg(ServerText::MaxPendingBytes)));
    if (parser.isSet(declared.version))
        return ParsedClientOptions::leave(VersionText(Program));

    ParsedClientOptions parsed;
    QString error = ReadConnection(parser, declared, parsed.options);
    if (error.isEmpty())
        error = ReadCommands(parser.positionalArguments(), parsed.options);
    if (!error.isEmpty())
        return ParsedClientOptions::usageError(Program, error, usage);
    return parsed;
}

#include "client_options.h"

#include "exit_status.h"

#include <QCommandLineParser>

#include <limits>

namespace {

constexpr double MaxTimeoutSeconds = 24 * 60 * 60;

const char Synopsis[] = R"(Usage: qx-client [--host H] [--port P] [--timeout SECONDS] HEX...
       qx-client --listen [--reconnect] [--host H] [--port P] [--timeout SECONDS]
)";

const char Description[]
    = R"(A command-line client of qx-server, which puts a QX-USB interface device on
the network.

Sends each HEX command to the command service (default port 5550) as one line
ended by CR, waits for its answer and prints the answer line on standard
output. The next command goes out only when the previous one has its answer;
the first failure ends the run. A command is 2 to 8 bytes written as 4 to 16
hex digits, e.g. 2181A0; the server ignores every other character, so
"21 81 a0" is the same command. Its first byte, the header, gives in its low
four bits the number n of data bytes: the command is exactly n + 2 bytes
(header, data, check byte), so 0000 and 2181A0 are commands, 0101 is not.

With --listen it prints every line of the broadcast service (default port
5551) as it comes. The server closes a connection that sends nothing for more
than 60 s, so the client sends one harmless byte every 30 s. SIGINT (Ctrl+C)
or SIGTERM ends it. With --reconnect as well it keeps listening when the
server goes away: it connects again every second until the server is back,
then goes on printing.)";

const char ExitStatusHelp[] = R"(
Exit status:
  0  all went well (--listen: ended by SIGINT or SIGTERM)
  1  no connection for another reason (unknown host, no reply to the
     connection request within 10 s or --timeout), or the server sent no
     text line
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
With --listen --reconnect only a signal ends the client, with 0.
)";

ParsedClientOptions Failure(const QString &text)
{
    ParsedClientOptions parsed;
    parsed.exitNow = true;
    parsed.exitStatus = ExitUsage;
    parsed.output
        = QStringLiteral("qx-client: %1\n%2Try 'qx-client --help' for more information.\n")
              .arg(text, QString::fromUtf8(Synopsis));
    return parsed;
}

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

} // namespace

ParsedClientOptions ParseClientOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption listen(QStringLiteral("listen"),
        QStringLiteral("Print the broadcast lines instead of sending "
                       "commands."));
    const QCommandLineOption host(QStringLiteral("host"),
        QStringLiteral("Name or address of the server (default "
                       "127.0.0.1)."),
        QStringLiteral("H"));
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("TCP port of the service (default 5550, with "
                       "--listen 5551)."),
        QStringLiteral("P"));
    const QCommandLineOption reconnect(QStringLiteral("reconnect"),
        QStringLiteral("With --listen: when the server goes away, connect again every second "
                       "until it is back, and go on listening."));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
        QStringLiteral("Give up when the connection or an answer takes longer than SECONDS "
                       "(default: 10 s to connect, 70 s for an answer)."),
        QStringLiteral("SECONDS"));
    // For the tests: prove the keep-alive byte without waiting half a minute.
    QCommandLineOption keepAlive(QStringLiteral("keepalive-ms"), QString(), QStringLiteral("N"));
    keepAlive.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({ listen, reconnect, host, port, timeout, help, version, keepAlive });
    parser.addPositionalArgument(QStringLiteral("HEX"),
        QStringLiteral("A command for the device, e.g. 2181A0."), QStringLiteral("HEX..."));

    if (!parser.parse(arguments))
        return Failure(parser.errorText());

    ParsedClientOptions parsed;
    if (parser.isSet(help)) {
        parsed.exitNow = true;
        // Our own usage lines replace the generic first line, which knows one form only.
        const QString generic = parser.helpText();
        parsed.output = QString::fromUtf8(Synopsis)
            + generic.mid(generic.indexOf(QLatin1Char('\n'))) + QString::fromUtf8(ExitStatusHelp);
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.exitNow = true;
        parsed.output = QStringLiteral("qx-client %1\n").arg(QStringLiteral(QX_VERSION));
        return parsed;
    }

    ClientOptions &options = parsed.options;
    options.listen = parser.isSet(listen);
    options.port
        = options.listen ? ClientOptions::BroadcastServicePort : ClientOptions::CommandServicePort;
    if (parser.isSet(host)) {
        options.host = parser.value(host).trimmed();
        if (options.host.isEmpty())
            return Failure(QStringLiteral("--host needs a name or an address"));
    }
    qint64 number = 0;
    if (parser.isSet(port)) {
        if (!ParseCount(parser.value(port), 65535, &number))
            return Failure(QStringLiteral("--port expects a TCP port from 1 to 65535"));
        options.port = static_cast<quint16>(number);
    }
    if (parser.isSet(keepAlive)) {
        if (!ParseCount(parser.value(keepAlive), std::numeric_limits<int>::max(), &number))
            return Failure(QStringLiteral("--keepalive-ms expects a positive whole number"));
        options.keepAliveInterval = std::chrono::milliseconds(number);
    }
    if (parser.isSet(timeout)) {
        std::chrono::milliseconds limit {};
        if (!ParseSeconds(parser.value(timeout), &limit))
            return Failure(
                QStringLiteral("--timeout expects a number of seconds above 0, at most 86400"));
        options.connectTimeout = limit;
        options.answerTimeout = limit;
    }
    options.reconnect = parser.isSet(reconnect);
    if (options.reconnect && !options.listen)
        return Failure(QStringLiteral("--reconnect goes with --listen only"));

    const QStringList commands = parser.positionalArguments();
    if (options.listen && !commands.isEmpty())
        return Failure(QStringLiteral("--listen takes no commands"));
    if (!options.listen && commands.isEmpty())
        return Failure(QStringLiteral("no command given"));
    for (const QString &command : commands) {
        // A line end inside an argument would make two requests of one.
        if (command.contains(QLatin1Char('\r')) || command.contains(QLatin1Char('\n')))
            return Failure(QStringLiteral("a command must be one line"));
        options.commands << command.toUtf8();
    }
    return parsed;
}

// qx-sim: a simulated QX-USB device on a pseudo-terminal, driven by commands
// on standard input. It prints the path a server should open, one line
// "pty: PATH" at the start and after every re-plug.

#include "core/program_options.h"
#include "core/unix_signals.h"
#include "paced_line.h"
#include "sim/simulated_device.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr int StdinFd = 0;
constexpr int MaxLineBytes = 64 * 1024;

const char Description[] = R"(A simulated QX-USB interface on a pseudo-terminal.

It answers the probe F2 02 03 F3 with 61 82 E3 and every other request by
echoing the request's message in an answer frame (FF FE + message). The pty
slave's path is printed as "pty: PATH" at the start and after each plug.

Commands on standard input, one per line (hex may contain spaces):
  broadcast HEX   send a broadcast frame: FF FD followed by these bytes
  raw HEX         write these bytes as they stand (garbage, partial frames)
  silent on|off   stop or resume answering requests
  unplug          close the pty and remove the --link: the server sees a hang-up
  plug            open a new pty (the --link path follows it)
  quit            end the simulator (end of input, SIGINT and SIGTERM too)
A bad command prints one line on standard error and the simulator goes on.
To run it in the background, give it an input that stays open, e.g.
  sleep infinity | qx-sim --link /tmp/qx-usb &)";

struct SimOptions
{
    QString link;
    bool silent = false;
    int delayMs = 0;
    int baud = 0;
};

// One line on standard error; the simulator goes on.
void Complain(const QString &message)
{
    std::fprintf(stderr, "qx-sim: %s\n", qPrintable(message));
}

// A non-negative whole number option; an error text when it is not one.
QString ReadCount(const QCommandLineParser &parser, const QString &name, int &value)
{
    if (!parser.isSet(name))
        return QString();
    bool ok = false;
    value = parser.value(name).toInt(&ok);
    if (ok && value >= 0)
        return QString();
    return QStringLiteral("--%1 needs a whole number of 0 or more").arg(name);
}

using ParsedSimOptions = ParsedCommandLine<SimOptions>;

ParsedSimOptions parseOptions(const QStringList &arguments)
{
    const QString program = QStringLiteral("qx-sim");
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption link { QStringLiteral("link"),
        QStringLiteral("Keep a symbolic link at <path> to the pty."), QStringLiteral("path") };
    const QCommandLineOption delay { QStringLiteral("delay"),
        QStringLiteral("Wait <ms> milliseconds before each answer."), QStringLiteral("ms") };
    const QCommandLineOption baud { QStringLiteral("baud"),
        QStringLiteral("Deliver bytes no faster than an 8N1 line of <n> baud (0: at once)."),
        QStringLiteral("n") };
    parser.addOptions({
        link,
        { QStringLiteral("silent"), QStringLiteral("Start silent: read requests, answer none.") },
        delay,
        baud,
    });
    if (!parser.parse(arguments))
        return ParsedSimOptions::usageError(program, parser.errorText());
    if (parser.isSet(help))
        return ParsedSimOptions::leave(
            HelpText(parser, QStringLiteral("Usage: %1 [options]\n").arg(program), QString()));
    if (parser.isSet(version))
        return ParsedSimOptions::leave(VersionText(program));
    if (!parser.positionalArguments().isEmpty())
        return ParsedSimOptions::usageError(program,
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    ParsedSimOptions parsed;
    SimOptions &options = parsed.options;
    options.link = parser.value(link);
    options.silent = parser.isSet(QStringLiteral("silent"));
    QString error = RepeatedOption(parser, { link, delay, baud });
    if (error.isEmpty())
        error = ReadCount(parser, QStringLiteral("delay"), options.delayMs);
    if (error.isEmpty())
        error = ReadCount(parser, QStringLiteral("baud"), options.baud);
    if (!error.isEmpty())
        return ParsedSimOptions::usageError(program, error);
    return parsed;
}

// Hex digits in pairs, spaces allowed between them; nothing when anything else
// is there, the count is odd or there is no byte at all.
std::optional<QByteArray> parseHex(const QByteArray &text)
{
    QByteArray digits = text;
    digits.replace(' ', QByteArray()).replace('\t', QByteArray());
    const bool allHex = std::all_of(digits.cbegin(), digits.cend(),
        [](char c) { return std::isxdigit(static_cast<uchar>(c)); });
    if (digits.isEmpty() || digits.size() % 2 != 0 || !allHex)
        return std::nullopt;
    return QByteArray::fromHex(digits);
}

void printPty(const SimulatedDevice &device)
{
    std::printf("pty: %s\n", qPrintable(device.slavePath()));
    std::fflush(stdout);
}

// Runs the commands of standard input against the device.
class Console
{
public:
    explicit Console(SimulatedDevice &device)
        : m_device(device)
    { }

    // Takes newly read bytes; runs every complete line.
    void take(const QByteArray &bytes)
    {
        m_line += bytes;
        int end;
        while ((end = m_line.indexOf('\n')) >= 0) {
            const QByteArray line = m_line.left(end);
            m_line.remove(0, end + 1);
            run(line.trimmed());
        }
        if (m_line.size() > MaxLineBytes) {
            Complain(QStringLiteral("line too long, ignored"));
            m_line.clear();
        }
    }
    // End of input: a last line without its line end still counts.
    void finish()
    {
        take("\n");
        QCoreApplication::quit();
    }

private:
    void run(const QByteArray &line)
    {
        const int space = line.indexOf(' ');
        const QByteArray verb = space < 0 ? line : line.left(space);
        const QByteArray argument = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
        if (verb.isEmpty())
            return;
        if (verb == "broadcast" || verb == "raw")
            send(verb, argument);
        else if (verb == "silent")
            setSilent(argument);
        else if (verb == "unplug" && argument.isEmpty())
            m_device.unplug();
        else if (verb == "plug" && argument.isEmpty())
            plug();
        else if (verb == "quit" && argument.isEmpty())
            QCoreApplication::quit();
        else
            Complain(
                QStringLiteral("unknown command '%1' (see --help)").arg(QString::fromUtf8(line)));
    }

    void send(const QByteArray &verb, const QByteArray &argument)
    {
        const std::optional<QByteArray> bytes = parseHex(argument);
        if (!bytes) {
            Complain(QStringLiteral("%1 needs hex bytes, e.g. '%1 F1 02 03 F0'")
                         .arg(QString::fromUtf8(verb)));
            return;
        }
        if (!m_device.isPlugged()) {
            Complain(QStringLiteral("unplugged: nothing sent (use 'plug')"));
            return;
        }
        if (verb == "broadcast")
            m_device.sendBroadcast(*bytes);
        else
            m_device.sendRaw(*bytes);
    }

    void setSilent(const QByteArray &argument)
    {
        if (argument == "on" || argument == "off")
            m_device.setSilent(argument == "on");
        else
            Complain(QStringLiteral("silent needs 'on' or 'off'"));
    }

    void plug()
    {
        if (m_device.isPlugged())
            return;
        if (m_device.plug())
            printPty(m_device);
        else
            Complain(m_device.errorString());
    }

    SimulatedDevice &m_device;
    QByteArray m_line; // input after the last complete line
};

void readCommands(QCoreApplication &app, Console &console)
{
    auto *notifier = new QSocketNotifier(StdinFd, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, &console] {
        char buffer[4096];
        const ssize_t count = ::read(StdinFd, buffer, sizeof buffer);
        if (count > 0) {
            console.take(QByteArray(buffer, int(count)));
        } else if (count == 0 || errno != EINTR) {
            notifier->setEnabled(false);
            console.finish();
        }
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX_VERSION));
    const ParsedSimOptions parsed = parseOptions(QCoreApplication::arguments());
    if (parsed.exitNow) {
        std::fputs(qPrintable(parsed.output), parsed.exitStatus == 0 ? stdout : stderr);
        return parsed.exitStatus;
    }
    const SimOptions &options = parsed.options;
    ::signal(SIGPIPE, SIG_IGN); // a closed standard output must not end the device
    // SIGINT and SIGTERM end the event loop, so that the device removes its
    // link on the way out.
    UnixSignals signalHandler;
    QObject::connect(
        &signalHandler, &UnixSignals::terminationRequested, &app, &QCoreApplication::quit);

    SimulatedDevice device;
    device.setLinkPath(options.link);
    device.setSilent(options.silent);
    device.setAnswerDelay(options.delayMs);
    if (options.baud > 0)
        new PacedLine(device, options.baud, &device);
    if (!device.plug()) {
        Complain(device.errorString());
        return 1;
    }
    printPty(device);

    Console console(device);
    readCommands(app, console);
    return app.exec();
}

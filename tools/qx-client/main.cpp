// qx-client: sends commands to a qx-server and prints the answers, or prints
// what its broadcast service sends. See --help for the exit statuses.

#include "broadcast_listener.h"
#include "client_options.h"
#include "command_session.h"
#include "core/unix_signals.h"
#include "server_connection.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void PrintLine(QByteArray line)
{
    // The line comes from the network: anything but printable ASCII shows as
    // '?', so that no peer can send control sequences to the terminal.
    for (char &c : line) {
        if (c < 0x20 || c > 0x7e)
            c = '?';
    }
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout); // a script or a pipe sees each line when it comes
}

void PrintNote(const QString &message)
{
    if (!message.isEmpty())
        std::fprintf(stderr, "qx-client: %s\n", qPrintable(message));
}

void Finish(int exitStatus, const QString &message)
{
    PrintNote(message);
    QCoreApplication::exit(exitStatus);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx-client"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX_VERSION));
    const ParsedClientOptions parsed = ParseClientOptions(QCoreApplication::arguments());
    if (parsed.exitNow) {
        std::fputs(qPrintable(parsed.output), parsed.exitStatus == 0 ? stdout : stderr);
        return parsed.exitStatus;
    }
    const ClientOptions &options = parsed.options;
    ServerConnection connection(options.host, options.port, options.connectTimeout);

    if (options.listen) {
        UnixSignals stopSignals;
        BroadcastListener listener(connection, options.keepAliveInterval, options.reconnect);
        QObject::connect(
            &stopSignals, &UnixSignals::terminationRequested, &listener, &BroadcastListener::stop);
        QObject::connect(&listener, &BroadcastListener::listening, &listener, [&connection] {
            PrintNote(QStringLiteral("listening to the broadcasts of %1 (Ctrl+C ends)")
                          .arg(connection.address()));
        });
        QObject::connect(&listener, &BroadcastListener::lineReceived, &listener, PrintLine);
        QObject::connect(&listener, &BroadcastListener::interrupted, &listener, PrintNote);
        QObject::connect(&listener, &BroadcastListener::finished, &listener, Finish);
        listener.start();
        return app.exec();
    }

    CommandSession session(connection, options.commands, options.answerTimeout);
    QObject::connect(&session, &CommandSession::answerReceived, &session, PrintLine);
    QObject::connect(&session, &CommandSession::finished, &session, Finish);
    session.start();
    return app.exec();
}

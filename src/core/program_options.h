#pragma once

#include <QList>
#include <QString>

class QCommandLineOption;
class QCommandLineParser;

// What reading a program's command line comes to: run with the options, or
// leave at once with a text (help, version, or an error) and an exit status.
// The server, the client and the simulator read theirs this way.
template <typename Options> struct ParsedCommandLine
{
    Options options;
    bool exitNow = false;
    int exitStatus = 0;
    QString output; // for standard output (help, version) or standard error (errors)

    // Leave with status 2: the error, the usage lines (if any) and where to read more.
    static ParsedCommandLine usageError(
        const QString &program, const QString &error, const QString &usage = QString());
    // Leave with status 0 and this text.
    static ParsedCommandLine leave(const QString &text);
};

constexpr int UsageErrorStatus = 2;

// The parser's help with the program's own usage lines in place of its generic
// first line (which names the program only once the application object exists,
// and knows one form only), and the exit statuses after it.
QString HelpText(
    const QCommandLineParser &parser, const QString &usage, const QString &exitStatuses);

// -h/--help and --version, worded alike in every program.
QCommandLineOption HelpOption();
QCommandLineOption VersionOption();

// "qx-server 1.0.0" and a line end.
QString VersionText(const QString &program);

// "--port given more than once" for the first of `options` that was given more
// than once (each takes a value that only one can have); empty when none was.
QString RepeatedOption(const QCommandLineParser &parser, const QList<QCommandLineOption> &options);

// A TCP port from 1 to 65535.
bool ParseTcpPort(const QString &text, quint16 *port);

template <typename Options>
ParsedCommandLine<Options> ParsedCommandLine<Options>::usageError(
    const QString &program, const QString &error, const QString &usage)
{
    ParsedCommandLine parsed;
    parsed.exitNow = true;
    parsed.exitStatus = UsageErrorStatus;
    parsed.output = QStringLiteral("%1: %2\n%3Try '%1 --help' for more information.\n")
                        .arg(program, error, usage);
    return parsed;
}

template <typename Options>
ParsedCommandLine<Options> ParsedCommandLine<Options>::leave(const QString &text)
{
    ParsedCommandLine parsed;
    parsed.exitNow = true;
    parsed.output = text;
    return parsed;
}

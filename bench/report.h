#pragma once

#include <QStringList>

#include <array>
#include <optional>

// The paths to the device that a run compares, and what it measures on them. A figure that was
// not measured stays empty: a path that has no such figure, or a failed step (its error is in
// `errors`).
enum class Path
{
    Direct, // the device's pty itself
    Server, // qx-server
    Socat, // socat as a raw TCP-to-serial bridge
    Count,
};

enum class Figure
{
    RoundTripMedianUs, // 1,000 commands one at a time, after a warm-up
    RoundTripP99Us,
    AddedMedianUs, // the round trip over the direct path's
    AddedP99Us,
    CommandsPerSecond, // 1 client, 10,000 commands
    CommandsPerSecond100, // 100 clients x 100 commands (qx-server)
    BurstFramesPerSecond, // 10,000 broadcasts to 1 client
    BurstCpuNsPerFrame, // the same: CPU time of the path's program (qx-server, socat) per frame
    Burst100Ms, // 10,000 broadcasts to 100 clients, complete and in order (qx-server)
    LineRateCommandsPerSecond, // 1 client, the device at 57600 baud
    IdleCpuPercent, // of one core over 10 s, no client (qx-server)
    WaitCpuPercent, // over 5 s while a command waits on a silent device (qx-server)
    ResidentMb200, // VmRSS with 100 command + 100 broadcast clients (qx-server)
    Count,
};

struct Figures
{
    std::optional<double> &at(Figure f, Path p) { return values[size_t(f)][size_t(p)]; }
    const std::optional<double> &at(Figure f, Path p) const { return values[size_t(f)][size_t(p)]; }

    std::array<std::array<std::optional<double>, size_t(Path::Count)>, size_t(Figure::Count)>
        values;
    qint64 foreignAnswers100 = 0; // answers to another client, 100 clients x 100 commands
    qint64 wrongAnswers = 0; // over every path: answers that were not their command's echo
    QStringList serverEnds; // how each server process ended on SIGTERM
    QStringList errors;
};

// The printed result of one run: the figures side by side for the three paths, then every target
// as a comparison within the run, with PASS or FAIL; as aligned text or as Markdown tables (the
// README's).
struct Report
{
    QString text;
    bool passed = false; // every target met and no step failed
};

Report RenderReport(Figures figures, const QString &title, bool markdown);

// One line about this machine: cores, CPU model, kernel, Qt.
QString DescribeMachine();

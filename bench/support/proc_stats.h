#pragma once

#include <QByteArray>
#include <optional>

// What the kernel says about a process under measurement: its CPU time, its run state and its
// resident memory, read from /proc. The parsers take the files' text, so they are checked
// without a process.
namespace ProcStats {

struct CpuSample
{
    qint64 ticks = 0; // user + system time of all threads, in clock ticks
    char state = '?'; // R running, S sleeping, D disk wait, Z zombie, ...
};

// From the text of /proc/<pid>/stat. The command name in parentheses may hold spaces and
// parentheses itself, so the fields are counted from the last ')'.
std::optional<CpuSample> parseStat(const QByteArray &text);
// VmRSS in bytes, from the text of /proc/<pid>/status.
std::optional<qint64> parseResidentBytes(const QByteArray &text);

std::optional<CpuSample> readCpu(qint64 pid);
std::optional<qint64> readResidentBytes(qint64 pid);
qint64 ticksPerSecond();

// Share of one core used between two samples taken `wallNs` apart, in percent.
double cpuPercent(const CpuSample &before, const CpuSample &after, qint64 wallNs);

} // namespace ProcStats

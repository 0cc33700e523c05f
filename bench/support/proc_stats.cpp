#include "proc_stats.h"

#include <QFile>
#include <QList>

#include <unistd.h>

namespace ProcStats {

namespace {

// Fields after the command name: state is field 3 of the file, utime 14, stime 15.
constexpr int StateField = 0;
constexpr int UserTimeField = 11;
constexpr int SystemTimeField = 12;

std::optional<QByteArray> readProcFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

std::optional<CpuSample> parseStat(const QByteArray &text)
{
    const qsizetype nameEnd = text.lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(nameEnd + 1).simplified().split(' ');
    if (fields.size() <= SystemTimeField || fields.at(StateField).size() != 1)
        return std::nullopt;
    bool userOk = false;
    bool systemOk = false;
    const qint64 user = fields.at(UserTimeField).toLongLong(&userOk);
    const qint64 system = fields.at(SystemTimeField).toLongLong(&systemOk);
    if (!userOk || !systemOk)
        return std::nullopt;
    return CpuSample { user + system, fields.at(StateField).at(0) };
}

std::optional<qint64> parseResidentBytes(const QByteArray &text)
{
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith("VmRSS:"))
            continue;
        const QList<QByteArray> parts = line.mid(6).simplified().split(' ');
        bool ok = false;
        const qint64 kilobytes = parts.value(0).toLongLong(&ok);
        if (!ok || parts.value(1) != "kB")
            return std::nullopt;
        return kilobytes * 1024;
    }
    return std::nullopt;
}

std::optional<CpuSample> readCpu(qint64 pid)
{
    const std::optional<QByteArray> text = readProcFile(pid, "stat");
    return text ? parseStat(*text) : std::nullopt;
}

std::optional<qint64> readResidentBytes(qint64 pid)
{
    const std::optional<QByteArray> text = readProcFile(pid, "status");
    return text ? parseResidentBytes(*text) : std::nullopt;
}

qint64 ticksPerSecond()
{
    return ::sysconf(_SC_CLK_TCK);
}

double cpuPercent(const CpuSample &before, const CpuSample &after, qint64 wallNs)
{
    if (wallNs <= 0)
        return 0;
    const double cpuSeconds = double(after.ticks - before.ticks) / double(ticksPerSecond());
    return 100.0 * cpuSeconds / (double(wallNs) / 1e9);
}

} // namespace ProcStats

#include "machine_info.h"

#include <QFile>
#include <QList>
#include <QtGlobal>

#include <sys/utsname.h>
#include <unistd.h>

QString CpuModel(const QByteArray &cpuinfo)
{
    for (const QByteArray &line : cpuinfo.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed() == "model name")
            return QString::fromUtf8(line.mid(colon + 1).trimmed());
    }
    return QString();
}

QString DescribeMachine()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    QString model;
    if (cpuinfo.open(QIODevice::ReadOnly))
        model = CpuModel(cpuinfo.readAll());
    if (model.isEmpty())
        model = QStringLiteral("unknown CPU");
    utsname system {};
    const QString kernel = ::uname(&system) == 0 ? QStringLiteral("%1 %2").arg(
                               QString::fromUtf8(system.sysname), QString::fromUtf8(system.release))
                                                 : QStringLiteral("unknown kernel");
    return QStringLiteral("%1 cores (nproc), %2, %3, Qt %4")
        .arg(::sysconf(_SC_NPROCESSORS_ONLN))
        .arg(model, kernel, QString::fromLatin1(qVersion()));
}

#include "child_process.h"

#include <QProcess>

#include <csignal>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

void EndWithParent(QProcess *process)
{
#ifdef Q_OS_LINUX
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#else
    Q_UNUSED(process);
#endif
}

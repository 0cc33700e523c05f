#include "options.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedOptions parsed = ParseOptions(arguments);
    if (parsed.exitNow) {
        std::fputs(parsed.output.toLocal8Bit().constData(),
                   parsed.exitStatus == 0 ? stdout : stderr);
        return parsed.exitStatus;
    }
    std::fputs("qx-server: the server itself is not available in this build yet\n", stderr);
    return 1;
}

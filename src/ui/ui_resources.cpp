#include "ui_resources.h"

#include <QIcon>

void InitUiResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(ui);
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon ProgramIcon()
{
    InitUiResources();
    QIcon icon;
    for (const char *file :
        { ":/images/icon-16.png", ":/images/icon-32.png", ":/images/icon-64.png" })
        icon.addFile(QString::fromLatin1(file));
    return icon;
}

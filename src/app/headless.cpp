#include "headless.h"

#include "core/stored_settings.h"
#include "core/string_table.h"
#include "server/server.h"

void StartHeadless(Server &server, const SettingsStore &settings, const QString &applicationDirPath)
{
    WriteProgramFolder(settings, applicationDirPath);
    // Its status lines are log lines, and the log is English whatever the
    // window's stored language.
    Common::LangOffset = Common::English;
    server.setSearchUntilFound(true);
    server.MSStartServer_Click();
}

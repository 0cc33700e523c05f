#include "headless.h"

#include "core/stored_settings.h"
#include "core/string_table.h"
#include "server/server.h"

void StartHeadless(Server &server, const SettingsStore &settings, const QString &applicationDirPath)
{
    WriteProgramFolder(settings, applicationDirPath);
    Common::LangOffset = StoredLanguageOffset(settings);
    server.setSearchUntilFound(true);
    server.MSStartServer_Click();
}

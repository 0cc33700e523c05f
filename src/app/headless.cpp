#include "headless.h"

#include "app/startup_steps.h"
#include "core/logging.h"
#include "core/string_table.h"
#include "server/server.h"

void StartHeadless(Server &server, const SettingsStore &settings, const QString &applicationDirPath)
{
    WriteProgramFolder(settings, applicationDirPath);
    Common::LangOffset = StoredLanguageOffset(settings);
    server.MSStartServer_Click([&server] {
        if (server.isRunning() || !server.runWanted())
            return;
        qCInfo(lcServer) << "Searching again until the device answers";
        server.keepSearching();
    });
}

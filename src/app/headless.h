#pragma once

#include <QString>

class Server;
class SettingsStore;

// The start-up of the headless mode: the program folder is stored as the
// window would, the texts are English, then the server starts at once. When no device
// answers it keeps searching, as after a lost device, until one does.
void StartHeadless(
    Server &server, const SettingsStore &settings, const QString &applicationDirPath);

#include "string_table.h"

namespace Common {
int LangOffset = German;
}

namespace {

struct Entry
{
    int id;
    const char *text; // UTF-8
};

// Both languages in one table; the English entry is always 100 above the German.
constexpr Entry Table[] = {
    { 101, "&Datei" },
    { 102, "&Ende" },
    { 103, "&Server" },
    { 104, "Server &starten" },
    { 105, "Server &anhalten" },
    { 106, "Server a&utomatisch starten" },
    { 107, "&Eigene IP-Adresse anzeigen" },
    { 108, "S&prache" },
    { 109, "&Deutsch" },
    { 110, "&Englisch" },
    { 111, "Ü&ber" },
    { 112, "&Protokoll anzeigen" },
    { 120, "Benutzte Befehls-Ports :" },
    { 121, "Benutzte Broadcast-Ports :" },
    { 122, "Server starten" },
    { 123, "Server stopp" },
    { 130, "Suche Interface" },
    { 131, "Server läuft" },
    { 132, "Kein Interface QX-USB gefunden !" },
    { 133, "Server gestoppt" },
    { 134, "Schliessen" },
    { 135, "Eigene IP-Adresse" },
    { 136, "Protokoll" },
    { 137, "Frames" },
    { 138, "Kopieren" },
    { 139, "Leeren" },
    { 140, "… %1 ältere Zeilen verworfen" },
    { 201, "&File" },
    { 202, "&End" },
    { 203, "&Server" },
    { 204, "&Start server" },
    { 205, "S&top server" },
    { 206, "Server &autostart" },
    { 207, "Show own &IP-address" },
    { 208, "&Language" },
    { 209, "&German" },
    { 210, "&English" },
    { 211, "&About" },
    { 212, "Show &log" },
    { 220, "Command ports in use :" },
    { 221, "Broadcast ports in use :" },
    { 222, "Start server" },
    { 223, "Stop server" },
    { 230, "Searching interface" },
    { 231, "Server is running" },
    { 232, "No interface QX-USB found !" },
    { 233, "Server is not running" },
    { 234, "Close" },
    { 235, "Own IP-Address" },
    { 236, "Log" },
    { 237, "Frames" },
    { 238, "Copy" },
    { 239, "Clear" },
    { 240, "… %1 older lines dropped" },
};

} // namespace

std::optional<QString> LoadResString(int id)
{
    for (const Entry &entry : Table) {
        if (entry.id == id)
            return QString::fromUtf8(entry.text);
    }
    return std::nullopt;
}

std::optional<QString> LocalText(int baseId)
{
    return LoadResString(baseId + Common::LangOffset);
}

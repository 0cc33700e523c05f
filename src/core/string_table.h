#pragma once

#include <QString>
#include <optional>

// The language offset: 0 selects German, 100 English. Set at start-up and by
// the language menu; every window text is looked up as base id + LangOffset.
namespace Common {
extern int LangOffset;
constexpr int German = 0;
constexpr int English = 100;
} // namespace Common

// One entry of the string table by its identifier; nothing for an identifier
// the table lacks, so that a caller keeps its previous text and goes on.
std::optional<QString> LoadResString(int id);

// The text of base identifier `baseId` in the current language.
std::optional<QString> LocalText(int baseId);

// Base identifiers of the texts (German ids; English is +100).
namespace TextId {
constexpr int MDatei = 101;
constexpr int MDEnde = 102;
constexpr int MServer = 103;
constexpr int MSStartServer = 104;
constexpr int MSStopServer = 105;
constexpr int MSAutoStart = 106;
constexpr int MSShowIP = 107;
constexpr int MLanguage = 108;
constexpr int MLGerman = 109;
constexpr int MLEnglish = 110;
constexpr int MHAbout = 111;
constexpr int MSShowLog = 112;
constexpr int CommandPortsInUse = 120;
constexpr int BroadcastPortsInUse = 121;
constexpr int StartServer = 122;
constexpr int StopServer = 123;
constexpr int SearchingInterface = 130;
constexpr int ServerRunning = 131;
constexpr int NoInterface = 132;
constexpr int ServerStopped = 133;
constexpr int Close = 134;
constexpr int OwnIpAddress = 135;
constexpr int LogTitle = 136;
constexpr int LogFrames = 137;
constexpr int LogCopy = 138;
constexpr int LogClear = 139;
constexpr int LinesDropped = 140; // %1: how many
} // namespace TextId

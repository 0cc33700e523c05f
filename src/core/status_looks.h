#pragma once

#include "core/presentation.h"

// The three looks of the status label, in the current language.
StatusLook SearchingLook(); // "Suche Interface ..." on yellow, black text
StatusLook RunningLook(); // "Server läuft ...." on green
StatusLook StoppedLook(); // "Server gestoppt" on red

// Captions alone, for the language switch and the device search.
QString RunningCaption();
QString StoppedCaption();
QString SearchingPortCaption(int portNumber); // "Suche Interface ... 3"

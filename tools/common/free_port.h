#pragma once

#include <QtGlobal>

#include <utility>

// TCP ports on the loopback address that are free now: the kernel's pick, given back at once,
// so that a program under test can listen on them (never the program's default ports, which a
// real server on this machine may hold). 0 when the kernel gives none.
quint16 FreeLoopbackPort();
// Two different ones, e.g. for the command and the broadcast service.
std::pair<quint16, quint16> FreeLoopbackPortPair();

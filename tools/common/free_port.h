#pragma once

#include <QtGlobal>

#include <utility>

// TCP ports on the loopback address that are free now, given back at once so that a program
// under test can listen on them: never the program's default ports, which a real server on this
// machine may hold, nor one the kernel may hand to an outgoing connection meanwhile. 0 when
// none is free.
quint16 FreeLoopbackPort();
// Two different ones, e.g. for the command and the broadcast service.
std::pair<quint16, quint16> FreeLoopbackPortPair();

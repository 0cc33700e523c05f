#pragma once

#include <QByteArray>
#include <optional>

// A command line of the command service as device bytes. Only hex digits count
// (either case; everything else, CR and LF included, is ignored); 4 to 16 of
// them, an even number, read in pairs, high digit first. The command must agree
// with its header: (header AND 15) data bytes and one check byte follow it (the
// check byte itself is the device's to judge). Nothing for a malformed line,
// which the client gets the error answer for.
std::optional<QByteArray> TranslateCommandLine(const QByteArray &line);

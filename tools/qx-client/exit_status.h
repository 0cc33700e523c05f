#pragma once

#include "core/program_options.h"

// The exit statuses of qx-client; scripts rely on them and --help lists them.
enum ExitStatus : int
{
    ExitSuccess = 0,
    ExitFailure = 1, // no connection for another reason
    ExitUsage = UsageErrorStatus,
    ExitMalformed = 3, // the server's error answer 6180E1
    ExitNoAnswer = 4, // the device did not answer (010100), or no answer came in time
    ExitRefused = 5, // nothing listens, or the server sent its refusal text
    ExitConnectionLost = 6,
    ExitProtocolError = 7, // an answer that is no hex line, or text without a line end
};

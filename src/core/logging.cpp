#include "logging.h"

Q_LOGGING_CATEGORY(lcServer, "qx.server")
Q_LOGGING_CATEGORY(lcLink, "qx.link")
Q_LOGGING_CATEGORY(lcConnections, "qx.connections")
Q_LOGGING_CATEGORY(lcFrames, "qx.frames", QtWarningMsg)

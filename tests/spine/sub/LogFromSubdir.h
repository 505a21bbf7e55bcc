#pragma once

#include "log/Log.h"

// Logs from a header one directory down; returns the line of the call.
inline int logFromSubdir(CBackupFiles &channel, const QString &strMessage)
{
    WRITE_LOG(channel, strMessage); return __LINE__;
}

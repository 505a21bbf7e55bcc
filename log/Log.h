#pragma once

#include "log/BackupFiles.h"

// Base name of a path, evaluated by the compiler so each call site carries only "File.cpp".
constexpr const char *logBaseName(const char *pPath)
{
    const char *pBase = pPath;
    for (const char *p = pPath; *p; ++p) {
        if (*p == '/' || *p == '\\')
            pBase = p + 1;
    }
    return pBase;
}

#define WRITE_LOG(channel, message)                                                     \
    (channel).writeLog(CBackupFiles::buildLine(                                         \
        (message), [] { constexpr const char *pFile = logBaseName(__FILE__); return pFile; }(), \
        __LINE__))

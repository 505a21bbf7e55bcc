#include "platform/ProcessList.h"

#include <windows.h>
#include <tlhelp32.h>

namespace Platform {
bool isProcessRunning(const QString &strImageName)
{
    // One snapshot of the process table: no console program is started for it.
    const HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool bFound = false;
    for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore && !bFound;
         bMore = Process32NextW(hSnapshot, &entry))
        bFound = QString::fromWCharArray(entry.szExeFile) == strImageName;
    CloseHandle(hSnapshot);
    return bFound;
}
}

#include "platform/ProcessList.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>

namespace {
bool isPidName(const char *pName)
{
    if (!*pName)
        return false;
    for (const char *p = pName; *p; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
    }
    return true;
}

// Plain system calls: this runs for every process on each watch step.
QByteArray readSmallFile(const QByteArray &baPath)
{
    const int nFd = ::open(baPath.constData(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0)
        return QByteArray();
    char szBuffer[4096];
    const ssize_t nRead = ::read(nFd, szBuffer, sizeof(szBuffer));
    ::close(nFd);
    return nRead > 0 ? QByteArray(szBuffer, int(nRead)) : QByteArray();
}

QString baseNameOf(const QByteArray &baPath)
{
    const int nSlash = baPath.lastIndexOf('/');
    return QString::fromLocal8Bit(nSlash < 0 ? baPath : baPath.mid(nSlash + 1));
}

// "/proc/<pid>/stat" is "pid (comm) S ...": the short name sits between the first "(" and the last ")".
bool readStat(const QByteArray &baProcDir, QString *pComm, char *pState)
{
    const QByteArray baStat = readSmallFile(baProcDir + "/stat");
    const int nOpen = baStat.indexOf('(');
    const int nClose = baStat.lastIndexOf(')');
    if (nOpen < 0 || nClose < nOpen || nClose + 2 >= baStat.size())
        return false;
    *pComm = QString::fromLocal8Bit(baStat.mid(nOpen + 1, nClose - nOpen - 1));
    *pState = baStat.at(nClose + 2);
    return true;
}

QString imageNameFromExeLink(const QByteArray &baLink)
{
    // A replaced or removed executable still runs; the kernel only marks its link.
    static const QByteArray kDeleted(" (deleted)");
    return baseNameOf(baLink.endsWith(kDeleted) ? baLink.left(baLink.size() - kDeleted.size()) : baLink);
}

QString imageNameFromCmdline(const QByteArray &baCmdline)
{
    const int nEnd = baCmdline.indexOf('\0');
    return baseNameOf(nEnd < 0 ? baCmdline : baCmdline.left(nEnd));
}
}

namespace Platform {
QString processImageName(const QByteArray &baProcDir)
{
    char szLink[4096];
    const ssize_t nLength = ::readlink((baProcDir + "/exe").constData(), szLink, sizeof(szLink));
    if (nLength > 0)
        return imageNameFromExeLink(QByteArray(szLink, int(nLength)));

    QString strComm;
    char cState = 0;
    if (!readStat(baProcDir, &strComm, &cState) || cState == 'Z' || cState == 'X')
        return QString();
    const QString strFromCmdline = imageNameFromCmdline(readSmallFile(baProcDir + "/cmdline"));
    return strFromCmdline.isEmpty() ? strComm : strFromCmdline;
}

bool isProcessRunning(const QString &strImageName)
{
    DIR *pDir = ::opendir("/proc");
    if (!pDir)
        return false;
    bool bFound = false;
    while (!bFound) {
        const dirent *pEntry = ::readdir(pDir);
        if (!pEntry)
            break;
        if (isPidName(pEntry->d_name))
            bFound = processImageName(QByteArray("/proc/") + pEntry->d_name) == strImageName;
    }
    ::closedir(pDir);
    return bFound;
}
}

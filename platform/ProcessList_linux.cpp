#include "platform/ProcessList.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

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

// Plain system calls: this runs for every process on each watch step. The first 4 KiB of a
// command line hold its first two arguments but for freak paths.
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

// *pNoImage: the process has no executable at all (a kernel thread or a zombie; its command line
// is empty too), as opposed to one that this user may not look at.
QByteArray readExeLink(const QByteArray &baProcDir, bool *pNoImage)
{
    char szLink[4096];
    const ssize_t nLength = ::readlink((baProcDir + "/exe").constData(), szLink, sizeof(szLink));
    *pNoImage = nLength < 0 && errno == ENOENT;
    return nLength > 0 ? QByteArray(szLink, int(nLength)) : QByteArray();
}

bool hasBaseName(const QByteArray &baPath, const QByteArray &baName)
{
    const int nSlash = baPath.lastIndexOf('/');
    return !baName.isEmpty() && (nSlash < 0 ? baPath : baPath.mid(nSlash + 1)) == baName;
}

QByteArray withoutDeletedMark(const QByteArray &baLink)
{
    // A replaced or removed executable still runs; the kernel only marks its link.
    static const QByteArray kDeleted(" (deleted)");
    return baLink.endsWith(kDeleted) ? baLink.left(baLink.size() - kDeleted.size()) : baLink;
}

bool exeIsImage(const QByteArray &baExeLink, const QByteArray &baImageName)
{
    return hasBaseName(withoutDeletedMark(baExeLink), baImageName);
}

// The nIndex-th NUL-terminated argument of a raw command line; empty when there are fewer.
QByteArray argumentAt(const QByteArray &baCmdline, int nIndex)
{
    int nStart = 0;
    for (int i = 0; i < nIndex; ++i) {
        const int nEnd = baCmdline.indexOf('\0', nStart);
        if (nEnd < 0)
            return QByteArray();
        nStart = nEnd + 1;
    }
    const int nEnd = baCmdline.indexOf('\0', nStart);
    return baCmdline.mid(nStart, nEnd < 0 ? -1 : nEnd - nStart);
}
}

namespace Platform {
bool processRunsImage(const QByteArray &baImageName, const QByteArray &baExeLink, const QByteArray &baCmdline)
{
    return exeIsImage(baExeLink, baImageName) || hasBaseName(argumentAt(baCmdline, 0), baImageName)
        || hasBaseName(argumentAt(baCmdline, 1), baImageName);
}

bool isProcessRunning(const QString &strImageName)
{
    const QByteArray baImageName = QFile::encodeName(strImageName);
    DIR *pDir = ::opendir("/proc");
    if (!pDir)
        return false;
    bool bFound = false;
    while (!bFound) {
        const dirent *pEntry = ::readdir(pDir);
        if (!pEntry)
            break;
        if (!isPidName(pEntry->d_name))
            continue;
        const QByteArray baProcDir = QByteArray("/proc/") + pEntry->d_name;
        bool bNoImage = false;
        if (exeIsImage(readExeLink(baProcDir, &bNoImage), baImageName))
            bFound = true;
        else if (!bNoImage)
            bFound = processRunsImage(baImageName, QByteArray(), readSmallFile(baProcDir + "/cmdline"));
    }
    ::closedir(pDir);
    return bFound;
}
}

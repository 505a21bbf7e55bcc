#include "log/BackupFiles.h"
#include "log/Log.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/HeapTrim.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace {
const int kPollMs = 500;
const int kStopWaitMs = 1000;
const qint64 kRetentionSeconds = 604800;
// Once this many lines have been written and the queue has gone quiet, its memory is handed back
// to the system. Not while lines keep coming: trimming holds the allocator's locks for
// milliseconds, and every request waits on them.
const int kTrimAfterLines = 5000;
}

// Defined before the channels so that it outlives both of them.
QString CBackupFiles::strLogDir;

CBackupFiles g_printerLog;
CBackupFiles g_vodLog;

CBackupFiles::CBackupFiles(const QString &strPrefix, qint64 llMaxPendingBytes)
    : QThread(nullptr)
    , llMaxPendingBytes(llMaxPendingBytes)
    , strPrefix(strPrefix)
{
}

CBackupFiles::~CBackupFiles()
{
    bStop = true;
    {
        QMutexLocker locker(&mutexSleep);
        condWake.wakeAll();
    }
    if (!wait(kStopWaitMs)) {
        // A batch is stuck on a slow disk: the QThread object must not die under it.
        wait();
    }
}

void CBackupFiles::startWriting(const QString &strFilePrefix)
{
    strPrefix = strFilePrefix;  // read by the writer thread only, which starts after this
    start(QThread::IdlePriority);
}

void CBackupFiles::initLogDir(const QString &strAppDir)
{
    strLogDir = strAppDir + QStringLiteral("/logs");
    QDir dir(strLogDir);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
}

QString CBackupFiles::logDir()
{
    return strLogDir;
}

namespace {
// Every request logs a line; formatting the local time costs more than the rest of the line, so
// each thread formats a second once and reuses the text until the clock moves on.
const QString &timeStampOfSecond(qint64 llSecond)
{
    // Qt sets up its local time and locale data at the first conversion without a lock: two threads
    // logging at once then may each get an empty text. That first conversion is made by one thread.
    static std::once_flag onceFirst;
    std::call_once(onceFirst, [] { QDateTime::currentDateTime().toString(QStringLiteral("yyyy")); });
    thread_local qint64 llCachedSecond = -1;
    thread_local QString strCached;
    if (llSecond != llCachedSecond) {
        strCached = QDateTime::fromSecsSinceEpoch(llSecond).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        llCachedSecond = llSecond;
    }
    return strCached;
}

void appendFileName(QString &strLine, const char *pFile)
{
    for (const char *p = pFile; *p; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) {
            strLine += QString::fromUtf8(pFile);
            return;
        }
    }
    strLine += QLatin1String(pFile);
}
}

QString CBackupFiles::buildLine(const QString &strMessage, const char *pFile, int nLine)
{
    // "[%1] %2 (%3:%4)\n", put together in one buffer: the message is copied as is, so a "%1"
    // inside it stays untouched.
    const QString &strTime = timeStampOfSecond(QDateTime::currentSecsSinceEpoch());
    char szLine[16];
    const int nDigits = int(std::to_chars(szLine, szLine + sizeof szLine, nLine).ptr - szLine);
    QString strLine;
    strLine.reserve(strTime.size() + strMessage.size() + int(std::strlen(pFile)) + nDigits + 8);
    strLine += QLatin1Char('[');
    strLine += strTime;
    strLine += QLatin1String("] ");
    strLine += strMessage;
    strLine += QLatin1String(" (");
    appendFileName(strLine, pFile);
    strLine += QLatin1Char(':');
    strLine += QLatin1String(szLine, nDigits);
    strLine += QLatin1String(")\n");
    return strLine;
}

void CBackupFiles::writeLog(const QString &strLine)
{
    QMutexLocker locker(&mutex);
    if (llPendingBytes >= llMaxPendingBytes) {
        ++llDropped;
        return;
    }
    llPendingBytes += qint64(strLine.size()) * qint64(sizeof(QChar));
    lstPending.append(strLine);
}

int CBackupFiles::pendingCount()
{
    QMutexLocker locker(&mutex);
    return lstPending.size();
}

QStringList CBackupFiles::pendingLines()
{
    QMutexLocker locker(&mutex);
    return lstPending;
}

void CBackupFiles::run()
{
    QDateTime dtNextCleanup(QDate::currentDate(), QTime(3, 0));
    qint64 llUntrimmed = 0;
    while (!bStop) {
        const qint64 llBefore = llUntrimmed;
        for (;;) {
            if (!takePending())
                break;
            llUntrimmed += lstWriting.size();
            writeBatch();
            if (bStop)
                return;
        }
        if (llUntrimmed == llBefore && llUntrimmed >= kTrimAfterLines) {
            Platform::releaseFreeHeap();
            llUntrimmed = 0;
        }
        if (dtNextCleanup < QDateTime::currentDateTime()) {
            removeOldLogs();
            dtNextCleanup = dtNextCleanup.addDays(1);
        }
        QMutexLocker locker(&mutexSleep);
        if (!bStop)
            condWake.wait(&mutexSleep, kPollMs);
    }
}

// Moves the queue into lstWriting; lines dropped meanwhile are reported by one more line at its end.
bool CBackupFiles::takePending()
{
    lstWriting.clear();
    qint64 llDroppedNow = 0;
    {
        QMutexLocker locker(&mutex);
        lstPending.swap(lstWriting);
        llPendingBytes = 0;
        std::swap(llDropped, llDroppedNow);
    }
    if (llDroppedNow > 0)
        lstWriting.append(buildLine(QStringLiteral("日志队列已满，丢弃%1行日志").arg(llDroppedNow), logBaseName(__FILE__),
                                    __LINE__));
    return !lstWriting.isEmpty();
}

void CBackupFiles::writeBatch()
{
    QDir dir(strLogDir);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    const QString strPath = QStringLiteral("%1/%2_%3.log")
                                .arg(strLogDir, strPrefix, QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray baBatch;
    for (const QString &strLine : qAsConst(lstWriting))
        baBatch.append(strLine.toUtf8());
    file.write(baBatch);
    file.close();
}

// A log folder that keeps growing must be found by a person, not only by a debugger.
void CBackupFiles::reportUndeletable(const QString &strPath)
{
    qWarning() << "Failed to delete file:" << strPath;
    WRITE_LOG(g_printerLog, QStringLiteral("日志文件删除失败,%1").arg(strPath));
}

void CBackupFiles::removeOldLogs()
{
    removeOldLogs(QDateTime::currentDateTime());
}

void CBackupFiles::removeOldLogs(const QDateTime &dtNow)
{
    QDir dir(strLogDir);
    if (!dir.exists()) {
        qWarning() << "Directory does not exist:" << strLogDir;
        return;
    }
    const QFileInfoList lstFiles =
        dir.entryInfoList(QStringList{strPrefix + QStringLiteral("*.log")}, QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : lstFiles) {
        if (info.lastModified().secsTo(dtNow) <= kRetentionSeconds)
            continue;
        const QString strPath = info.absoluteFilePath();
        if (QFile::remove(strPath))
            qDebug() << "Deleted file:" << strPath;
        else
            reportUndeletable(strPath);
    }
}

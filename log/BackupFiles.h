#pragma once

#include <QDateTime>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

// One log channel: callers append finished lines to an in-memory queue; the channel's own
// thread writes them in batches into "<prefix>_yyyy-MM-dd.log" and prunes week-old files.
class CBackupFiles : public QThread
{
    Q_OBJECT
public:
    // Queued text a channel holds at most (UTF-16 bytes). Request bodies of up to 32 MiB are logged
    // whole, and the writer runs at idle priority: on a busy CPU the queue must not grow without end.
    static constexpr qint64 kMaxPendingBytes = 64 * 1024 * 1024;

    explicit CBackupFiles(const QString &strPrefix = QString(), qint64 llMaxPendingBytes = kMaxPendingBytes);
    ~CBackupFiles() override;

    // Names the files "<strFilePrefix>_yyyy-MM-dd.log" and starts the writer at idle priority.
    void startWriting(const QString &strFilePrefix);

    static void initLogDir(const QString &strAppDir);
    static QString logDir();

    // Builds "[time] message (file:line)\n"; used by WRITE_LOG.
    static QString buildLine(const QString &strMessage, const char *pFile, int nLine);

    // Appends the line, or drops and counts it while the queue holds llMaxPendingBytes or more
    // (a line may overshoot the bound once, so a whole request body still gets through).
    void writeLog(const QString &strLine);

    // Retention step against an explicit "now", so tests need not wait for a day to pass.
    void removeOldLogs(const QDateTime &dtNow);
    void removeOldLogs();

    // Number of lines waiting for the writer (benchmarks watch it drain).
    int pendingCount();
    // Copy of the lines not yet written; lets in-process tests read what was logged.
    QStringList pendingLines();

protected:
    void run() override;

private:
    void writeBatch();
    bool takePending();

    QStringList lstPending;
    QStringList lstWriting;
    QMutex mutex;
    // Guarded by mutex, like lstPending.
    qint64 llPendingBytes = 0;
    qint64 llDropped = 0;
    const qint64 llMaxPendingBytes;
    std::atomic<bool> bStop{false};
    QString strPrefix;

    // Lets the destructor cut the 500 ms sleep short instead of waiting it out.
    QMutex mutexSleep;
    QWaitCondition condWake;

    static void reportUndeletable(const QString &strPath);
    static QString strLogDir;
};

// The two channels every module writes to: the general log, and the set-top boxes' status lines.
// Their file names are the application's to give (startWriting).
extern CBackupFiles g_printerLog;
extern CBackupFiles g_vodLog;

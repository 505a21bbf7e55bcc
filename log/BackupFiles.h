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
    explicit CBackupFiles(const QString &strPrefix);
    ~CBackupFiles() override;

    static void initLogDir(const QString &strAppDir);
    static QString logDir();

    // Builds "[time] message (file:line)\n"; used by WRITE_LOG.
    static QString buildLine(const QString &strMessage, const char *pFile, int nLine);

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

    QStringList lstPending;
    QStringList lstWriting;
    QMutex mutex;
    std::atomic<bool> bStop{false};
    QString strPrefix;

    // Lets the destructor cut the 500 ms sleep short instead of waiting it out.
    QMutex mutexSleep;
    QWaitCondition condWake;

    static QString strLogDir;
};

extern CBackupFiles g_printerLog;
extern CBackupFiles g_vodLog;

// The log channels on their own: a local CBackupFiles writing into a temporary directory.
#include <QtTest>

#include <thread>

#include "common/TestFiles.h"
#include "log/Log.h"

class TestLogChannel : public QObject
{
    Q_OBJECT

    QTemporaryDir tmpDir;

    QStringList fileLines() const
    {
        const QString strName = QDate::currentDate().toString("'/logs/PrinterLog_'yyyy-MM-dd'.log'");
        return QString(readFile(tmpDir.path() + strName)).split('\n', Qt::SkipEmptyParts);
    }
    // "[yyyy-MM-dd hh:mm:ss] " and the rest
    static bool matches(const QString &strLine, const QString &strRest)
    {
        const QString strStamp = "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ";
        return QRegularExpression(strStamp + strRest + '$').match(strLine).hasMatch();
    }

private slots:
    void init()
    {
        QDir(tmpDir.path() + "/logs").removeRecursively();
        CBackupFiles::initLogDir(tmpDir.path());
    }

    // Lines from two threads land whole, UTF-8 encoded, each thread's lines in its own order, with this
    // file and line; a "%1" in the text stays as it is.
    void twoThreads()
    {
        CBackupFiles channel("PrinterLog");
        channel.start(QThread::IdlePriority);
        auto writer = [&channel](char cTag) {
            for (int i = 0; i < 1000; ++i)
                WRITE_LOG(channel, QString("线程%1 %2 %3").arg(cTag).arg(i).arg("%1"));
        };
        const int nLine = __LINE__ - 2;
        std::thread threadA(writer, 'A');
        std::thread threadB(writer, 'B');
        threadA.join();
        threadB.join();
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 2000, 5000);
        QMap<QString, int> mapNext;
        for (const QString &strLine : fileLines()) {
            const int nNext = mapNext[strLine.mid(24, 1)]++;
            const QString strRest = QString("线程[AB] %1 %[1] \\(tst_LogChannel\\.cpp:%2\\)").arg(nNext).arg(nLine);
            QVERIFY2(matches(strLine, strRest), qPrintable(strLine));
        }
    }

    // Seven days (604800 s) old is kept, a second more is deleted; only this channel's log files.
    void retention()
    {
        const qint64 llNow = QDateTime::currentSecsSinceEpoch();
        const QMap<QString, qint64> mapAges{{"PrinterLog_2026-11-29.log", 604800},
                                            {"PrinterLog_2026-11-28.log", 604801},
                                            {"VodLog_2025-01-01.log", 99999999},
                                            {"PrinterLog_old.txt", 99999999}};
        for (auto it = mapAges.cbegin(); it != mapAges.cend(); ++it) {
            QFile file(tmpDir.path() + "/logs/" + it.key());
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(llNow - it.value()), QFile::FileModificationTime));
        }
        CBackupFiles("PrinterLog").removeOldLogs(QDateTime::fromSecsSinceEpoch(llNow));
        const QStringList lstKept = {"PrinterLog_2026-11-29.log", "PrinterLog_old.txt", "VodLog_2025-01-01.log"};
        QCOMPARE(QDir(tmpDir.path() + "/logs").entryList(QDir::Files), lstKept);
    }

    // A writer that lags (here: not yet started) holds a bounded queue; what did not fit is reported by one line.
    void boundedQueue()
    {
        const QString strLine = QString(99, 'x') + '\n'; // 200 bytes queued
        CBackupFiles channel("PrinterLog", 1000);
        for (int i = 0; i < 8; ++i)
            channel.writeLog(strLine);
        QCOMPARE(channel.pendingCount(), 5);
        channel.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 6, 3000);
        channel.writeLog(strLine); // drained: the queue takes lines again, with nothing more to report
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 7, 3000);
        QStringList lstLines = fileLines();
        const QString strDrop = lstLines.takeAt(5);
        QVERIFY2(matches(strDrop, "日志队列已满，丢弃3行日志 \\(\\w+\\.cpp:\\d+\\)"), qPrintable(strDrop));
        QCOMPARE(lstLines, QStringList(QVector<QString>(6, strLine.trimmed()).toList()));
    }
};

QTEST_GUILESS_MAIN(TestLogChannel)
#include "tst_LogChannel.moc"

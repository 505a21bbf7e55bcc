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
        const QString strName = QDate::currentDate().toString(QStringLiteral("'/logs/PrinterLog_'yyyy-MM-dd'.log'"));
        return QString::fromUtf8(readFile(tmpDir.path() + strName)).split('\n', Qt::SkipEmptyParts);
    }
    // "[yyyy-MM-dd hh:mm:ss] message (file:line)"
    static bool matches(const QString &strLine, const QString &strText)
    {
        const QRegularExpression pattern("^\\[[-0-9 :]{19}\\] " + strText + " \\(\\w+\\.cpp:\\d+\\)$");
        return pattern.match(strLine).hasMatch();
    }

private slots:
    void init()
    {
        QDir(tmpDir.path() + "/logs").removeRecursively();
        CBackupFiles::initLogDir(tmpDir.path());
    }

    // The text kept as it is, stamped now, with this file and line.
    void lineShape()
    {
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        const QDateTime dtBefore = QDateTime::currentDateTime().addSecs(-1);
        WRITE_LOG(channel, QStringLiteral("本机 100%1"));
        const int nLine = __LINE__ - 1;
        const QString strLine = channel.pendingLines().join(QString());
        const QDateTime dtStamp = QDateTime::fromString(strLine.mid(1, 19), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY2(dtStamp >= dtBefore && dtStamp <= QDateTime::currentDateTime(), qPrintable(strLine));
        const QString strStamp = dtStamp.toString(QStringLiteral("'['yyyy-MM-dd hh:mm:ss']'"));
        const QString strWhere = QStringLiteral(" (tst_LogChannel.cpp:%1)\n").arg(nLine);
        QCOMPARE(strLine, strStamp + QStringLiteral(" 本机 100%1") + strWhere);
    }

    // Lines from two threads land whole, UTF-8 encoded, each thread's lines in its own order.
    void twoThreads()
    {
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        channel.start(QThread::IdlePriority);
        auto writer = [&channel](QChar cTag) {
            for (int i = 0; i < 1000; ++i)
                WRITE_LOG(channel, QStringLiteral("线程%1 %2").arg(cTag).arg(i));
        };
        std::thread threadA(writer, QLatin1Char('A'));
        std::thread threadB(writer, QLatin1Char('B'));
        threadA.join();
        threadB.join();
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 2000, 5000);
        QMap<QString, int> mapNext;
        for (const QString &strLine : fileLines()) {
            const int nNext = mapNext[strLine.mid(24, 1)]++;
            QVERIFY2(matches(strLine, QStringLiteral("线程[AB] %1").arg(nNext)), qPrintable(strLine));
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
        CBackupFiles(QStringLiteral("PrinterLog")).removeOldLogs(QDateTime::fromSecsSinceEpoch(llNow));
        const QStringList lstKept = {"PrinterLog_2026-11-29.log", "PrinterLog_old.txt", "VodLog_2025-01-01.log"};
        QCOMPARE(QDir(tmpDir.path() + "/logs").entryList(QDir::Files), lstKept);
    }

    // A writer that does not keep up (here: not yet started) holds a bounded queue; lines that did not
    // fit are reported by one line.
    void boundedQueue()
    {
        const QString strLine = QString(99, QLatin1Char('x')) + QLatin1Char('\n'); // 200 bytes queued
        CBackupFiles channel(QStringLiteral("PrinterLog"), 1000);
        for (int i = 0; i < 8; ++i)
            channel.writeLog(strLine);
        QCOMPARE(channel.pendingCount(), 5);
        channel.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 6, 3000);
        channel.writeLog(strLine); // drained: the queue takes lines again, with nothing more to report
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 7, 3000);
        QStringList lstLines = fileLines();
        QVERIFY2(matches(lstLines.takeAt(5), "日志队列已满，丢弃3行日志"), qPrintable(fileLines().at(5)));
        QCOMPARE(lstLines, QStringList(QVector<QString>(6, strLine.chopped(1)).toList()));
    }
};

QTEST_GUILESS_MAIN(TestLogChannel)
#include "tst_LogChannel.moc"

// The log channels on their own: a local CBackupFiles writing into a temporary directory.
#include <QtTest>

#include <sys/time.h>

#include <thread>

#include "log/Log.h"

class TestLogChannel : public QObject
{
    Q_OBJECT

    QTemporaryDir tmpDir;

    QStringList fileLines() const
    {
        QFile file(tmpDir.path() + QDate::currentDate().toString(QStringLiteral("'/logs/PrinterLog_'yyyy-MM-dd'.log'")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    }
    static bool matches(const QString &strLine, const QString &strPattern) { return QRegularExpression("^\\[[-0-9 :]{19}\\] " + strPattern + "$").match(strLine).hasMatch(); }

private slots:
    void init() { QDir(tmpDir.path() + "/logs").removeRecursively(), CBackupFiles::initLogDir(tmpDir.path()); }

    // "[yyyy-MM-dd hh:mm:ss] message (file:line)", the text kept as it is, stamped now.
    void lineShape()
    {
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        const QString strFormat = QStringLiteral("'['yyyy-MM-dd hh:mm:ss']'"), strBefore = QDateTime::currentDateTime().addSecs(-1).toString(strFormat);
        WRITE_LOG(channel, QStringLiteral("本机IP:192.168.77.20 100%1")); const int nLine = __LINE__;
        const QString strLine = channel.pendingLines().join(QString());
        QVERIFY2(strLine.left(21) >= strBefore && strLine.left(21) <= QDateTime::currentDateTime().toString(strFormat), qPrintable(strLine));
        QCOMPARE(strLine.mid(21), QStringLiteral(" 本机IP:192.168.77.20 100%1 (tst_LogChannel.cpp:") + QString::number(nLine) + ")\n");
    }

    // Lines from two threads land whole, UTF-8 encoded, each thread's lines in its own order.
    void twoThreadsWriteWholeLinesInOrder()
    {
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        channel.start(QThread::IdlePriority);
        auto writer = [&channel](QChar cTag) { for (int i = 0; i < 1000; ++i) WRITE_LOG(channel, QStringLiteral("线程%1 %2").arg(cTag).arg(i)); };
        std::thread threadA(writer, QLatin1Char('A')), threadB(writer, QLatin1Char('B'));
        threadA.join(), threadB.join();
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 2000, 5000);
        QMap<QString, int> mapNext;
        for (const QString &strLine : fileLines())
            QVERIFY2(matches(strLine, QStringLiteral("线程[AB] %1 \\(tst_LogChannel.cpp:\\d+\\)").arg(mapNext[strLine.mid(24, 1)]++)), qPrintable(strLine));
    }

    // Seven days (604800 s) old is kept, a second more is deleted; only this channel's log files.
    void retention()
    {
        const qint64 llNow = QDateTime::currentSecsSinceEpoch();
        const QMap<QString, qint64> mapAges{{"PrinterLog_2026-11-29.log", 604800}, {"PrinterLog_2026-11-28.log", 604801},
                                            {"VodLog_2025-01-01.log", 99999999}, {"PrinterLog_old.txt", 99999999}};
        for (auto it = mapAges.cbegin(); it != mapAges.cend(); ++it) {
            const QByteArray baPath = QFile::encodeName(tmpDir.path() + "/logs/" + it.key());
            const timeval times[2] = {{time_t(llNow - it.value()), 0}, {time_t(llNow - it.value()), 0}};
            QVERIFY(QFile(baPath).open(QIODevice::WriteOnly) && utimes(baPath.constData(), times) == 0);
        }
        CBackupFiles(QStringLiteral("PrinterLog")).removeOldLogs(QDateTime::fromSecsSinceEpoch(llNow));
        QCOMPARE(QDir(tmpDir.path() + "/logs").entryList(QDir::Files), QStringList({"PrinterLog_2026-11-29.log", "PrinterLog_old.txt", "VodLog_2025-01-01.log"}));
    }

    // A writer that does not keep up (here: not yet started) holds a bounded queue; lines that did not fit are reported by one line.
    void boundedQueueDropsAndReports()
    {
        const QString strLine = QString(99, QLatin1Char('x')) + QLatin1Char('\n'); // 200 bytes queued
        CBackupFiles channel(QStringLiteral("PrinterLog"), 1000);
        for (int i = 0; i < 8; ++i) channel.writeLog(strLine);
        QCOMPARE(channel.pendingCount(), 5);
        channel.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 6, 3000);
        channel.writeLog(strLine); // drained: the queue takes lines again, with nothing more to report
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 7, 3000);
        const QStringList lstLines = fileLines();
        QVERIFY2(matches(lstLines.at(5), "日志队列已满，丢弃3行日志 \\(BackupFiles.cpp:\\d+\\)"), qPrintable(lstLines.at(5)));
        QCOMPARE(lstLines.mid(0, 5) + lstLines.mid(6), QVector<QString>(6, strLine.chopped(1)).toList());
    }
};

QTEST_GUILESS_MAIN(TestLogChannel)
#include "tst_LogChannel.moc"

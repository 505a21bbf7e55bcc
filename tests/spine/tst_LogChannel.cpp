// The log channels on their own: a local CBackupFiles writing into a temporary directory.
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/time.h>

#include <thread>

#include "log/Log.h"

class TestLogChannel : public QObject
{
    Q_OBJECT

    QTemporaryDir tmpDir;

    QString todayFile() const
    {
        return tmpDir.path() + QStringLiteral("/logs/PrinterLog_%1.log").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    }
    QStringList fileLines() const
    {
        QFile file(todayFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    }

private slots:
    void init()
    {
        QDir(tmpDir.path() + QStringLiteral("/logs")).removeRecursively();
        CBackupFiles::initLogDir(tmpDir.path());
    }

    // "[yyyy-MM-dd hh:mm:ss] message (file:line)", the text kept as it is.
    void lineShape()
    {
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        const QDateTime dtBefore = QDateTime::currentDateTime().addMSecs(-1000);
        WRITE_LOG(channel, QStringLiteral("本机IP:192.168.77.20 100%1")); const int nLine = __LINE__;
        const QStringList lstLines = channel.pendingLines();
        QCOMPARE(lstLines.size(), 1);
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^\\[(.{19})\\] (.*) \\((.*)\\)\\n$")).match(lstLines.first());
        QVERIFY2(match.hasMatch(), qPrintable(lstLines.first()));
        const QDateTime dtStamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(dtStamp >= dtBefore && dtStamp <= QDateTime::currentDateTime());
        QCOMPARE(match.captured(2) + ' ' + match.captured(3), QStringLiteral("本机IP:192.168.77.20 100%1 tst_LogChannel.cpp:") + QString::number(nLine));
    }

    // Lines from two threads land whole, UTF-8 encoded, each thread's lines in its own order.
    void twoThreadsWriteWholeLinesInOrder()
    {
        const int nPerThread = 1000;
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        channel.start(QThread::IdlePriority);
        auto writer = [&channel](const QString &strTag) {
            for (int i = 0; i < nPerThread; ++i)
                WRITE_LOG(channel, QStringLiteral("线程%1 %2").arg(strTag).arg(i));
        };
        std::thread threadA(writer, QStringLiteral("A")), threadB(writer, QStringLiteral("B"));
        threadA.join();
        threadB.join();
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 2 * nPerThread, 5000);
        const QRegularExpression re(QStringLiteral("^\\[[-0-9 :]{19}\\] 线程([AB]) (\\d+) \\(tst_LogChannel.cpp:\\d+\\)$"));
        QMap<QString, int> mapNext{{QStringLiteral("A"), 0}, {QStringLiteral("B"), 0}};
        for (const QString &strLine : fileLines()) {
            const QRegularExpressionMatch match = re.match(strLine);
            QVERIFY2(match.hasMatch(), qPrintable(strLine));
            QCOMPARE(match.captured(2).toInt(), mapNext[match.captured(1)]++);
        }
    }

    void retentionBoundaries_data()
    {
        QTest::addColumn<QString>("strName");
        QTest::addColumn<qint64>("llAge");
        QTest::addColumn<bool>("bDeleted");
        QTest::newRow("exactly seven days kept") << "PrinterLog_2026-11-29.log" << qint64(604800) << false;
        QTest::newRow("one second more deleted") << "PrinterLog_2026-11-28.log" << qint64(604801) << true;
        QTest::newRow("other channel never") << "VodLog_2025-01-01.log" << qint64(99999999) << false;
        QTest::newRow("not a log file") << "PrinterLog_old.txt" << qint64(99999999) << false;
    }
    void retentionBoundaries()
    {
        QFETCH(QString, strName);
        QFETCH(qint64, llAge);
        QFETCH(bool, bDeleted);
        const QString strPath = tmpDir.path() + QStringLiteral("/logs/") + strName;
        QFile file(strPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const qint64 llNow = QDateTime::currentSecsSinceEpoch();
        const timeval times[2] = {{time_t(llNow - llAge), 0}, {time_t(llNow - llAge), 0}};
        QCOMPARE(utimes(QFile::encodeName(strPath).constData(), times), 0);
        CBackupFiles(QStringLiteral("PrinterLog")).removeOldLogs(QDateTime::fromSecsSinceEpoch(llNow));
        QCOMPARE(!QFileInfo::exists(strPath), bDeleted);
    }

    // A writer that does not keep up (here: not yet started) holds a bounded queue; the lines that
    // did not fit are counted and reported by one line when the writer drains the queue.
    void boundedQueueDropsAndReports()
    {
        const QString strLine = QString(99, QLatin1Char('x')) + QLatin1Char('\n'); // 200 bytes queued
        CBackupFiles channel(QStringLiteral("PrinterLog"), 1000);
        for (int i = 0; i < 8; ++i)
            channel.writeLog(strLine);
        QCOMPARE(channel.pendingCount(), 5);
        channel.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 6, 3000);
        QCOMPARE(fileLines().mid(0, 5), QVector<QString>(5, strLine.chopped(1)).toList());
        const QRegularExpression re(QStringLiteral("^\\[[-0-9 :]{19}\\] 日志队列已满，丢弃3行日志 \\(BackupFiles.cpp:\\d+\\)$"));
        QVERIFY2(re.match(fileLines().at(5)).hasMatch(), qPrintable(fileLines().at(5)));
        channel.writeLog(strLine); // drained: the queue takes lines again, with nothing more to report
        QTRY_COMPARE_WITH_TIMEOUT(fileLines().size(), 7, 3000);
        QCOMPARE(fileLines().last(), strLine.chopped(1));
    }
};

QTEST_GUILESS_MAIN(TestLogChannel)
#include "tst_LogChannel.moc"

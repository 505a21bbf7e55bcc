#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "MessageCapture.h"
#include "log/Log.h"
#include "sub/LogFromSubdir.h"

// The log channels on their own: a local CBackupFiles writing into a temporary directory.
class TestLogChannel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmpDir;
    std::unique_ptr<MessageCapture> pCapture;

    QString logDir() const { return tmpDir.path() + QStringLiteral("/logs"); }
    static QString todayFile(const QString &strDir, const QString &strPrefix = QStringLiteral("PrinterLog"))
    {
        return QStringLiteral("%1/%2_%3.log").arg(strDir, strPrefix, QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    }
    static QByteArray readAll(const QString &strPath)
    {
        QFile file(strPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static bool setAge(const QString &strPath, qint64 llNowSecs, qint64 llAgeSecs)
    {
        const timeval times[2] = {{time_t(llNowSecs - llAgeSecs), 0}, {time_t(llNowSecs - llAgeSecs), 0}};
        return utimes(QFile::encodeName(strPath).constData(), times) == 0;
    }
    static bool touch(const QString &strPath)
    {
        QFile file(strPath);
        return file.open(QIODevice::WriteOnly);
    }

private slots:
    // Installed after QTest's own handler, so the diagnostics of the channel are caught here.
    void initTestCase() { pCapture = std::make_unique<MessageCapture>(); }
    void cleanupTestCase() { pCapture.reset(); }

    void init()
    {
        QDir(logDir()).removeRecursively();
        CBackupFiles::initLogDir(tmpDir.path());
        MessageCapture::take();
    }

    void lineFormat_data()
    {
        QTest::addColumn<QString>("strMessage");
        QTest::newRow("chinese") << QStringLiteral("本机IP:192.168.77.20");
        QTest::newRow("percent marker kept") << QStringLiteral("100%1 %2 done");
        QTest::newRow("empty") << QString();
    }
    void lineFormat()
    {
        QFETCH(QString, strMessage);
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        const QDateTime dtBefore = QDateTime::currentDateTime().addMSecs(-1000);
        WRITE_LOG(channel, strMessage); const int nLine = __LINE__;
        const QDateTime dtAfter = QDateTime::currentDateTime();

        const QStringList lstLines = channel.pendingLines();
        QCOMPARE(lstLines.size(), 1);
        const QRegularExpression re(QStringLiteral("^\\[(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\\] (.*) \\(([^()]*):(\\d+)\\)\\n$"),
                                    QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = re.match(lstLines.first());
        QVERIFY2(match.hasMatch(), qPrintable(lstLines.first()));
        const QDateTime dtStamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(dtStamp >= dtBefore && dtStamp <= dtAfter);
        QCOMPARE(match.captured(2), strMessage);
        QCOMPARE(match.captured(3), QStringLiteral("tst_LogChannel.cpp"));
        QCOMPARE(match.captured(4), QString::number(nLine));
    }

    void baseNameFromSubdirectory()
    {
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        const int nLine = logFromSubdir(channel, QStringLiteral("x"));
        QVERIFY(channel.pendingLines().value(0).endsWith(QStringLiteral(" x (LogFromSubdir.h:%1)\n").arg(nLine)));
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
        std::thread threadA(writer, QStringLiteral("A"));
        std::thread threadB(writer, QStringLiteral("B"));
        threadA.join();
        threadB.join();

        const QString strFile = todayFile(logDir());
        QTRY_COMPARE_WITH_TIMEOUT(readAll(strFile).count('\n'), 2 * nPerThread, 5000);
        const QRegularExpression re(QStringLiteral("^\\[[-0-9 :]{19}\\] 线程([AB]) (\\d+) \\(tst_LogChannel.cpp:\\d+\\)$"));
        QMap<QString, int> mapNext{{QStringLiteral("A"), 0}, {QStringLiteral("B"), 0}};
        for (const QString &strLine : QString::fromUtf8(readAll(strFile)).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = re.match(strLine);
            QVERIFY2(match.hasMatch(), qPrintable(strLine));
            QCOMPARE(match.captured(2).toInt(), mapNext[match.captured(1)]++);
        }
        QCOMPARE(mapNext.value(QStringLiteral("A")), nPerThread);
        QCOMPARE(mapNext.value(QStringLiteral("B")), nPerThread);
    }

    void retentionBoundaries_data()
    {
        QTest::addColumn<QString>("strName");
        QTest::addColumn<qint64>("llAge");
        QTest::addColumn<bool>("bDirectory");
        QTest::addColumn<bool>("bDeleted");
        QTest::newRow("exactly seven days kept") << "PrinterLog_2026-11-29.log" << qint64(604800) << false << false;
        QTest::newRow("one second more deleted") << "PrinterLog_2026-11-28.log" << qint64(604801) << false << true;
        QTest::newRow("bare prefix deleted") << "PrinterLog.log" << qint64(604801) << false << true;
        QTest::newRow("fresh kept") << "PrinterLog_2026-12-06.log" << qint64(0) << false << false;
        QTest::newRow("other channel never") << "VodLog_2025-01-01.log" << qint64(99999999) << false << false;
        QTest::newRow("prefix not at start") << "XPrinterLog_1.log" << qint64(99999999) << false << false;
        QTest::newRow("not a log file") << "PrinterLog_old.txt" << qint64(99999999) << false << false;
        QTest::newRow("directory") << "PrinterLog_dir.log" << qint64(99999999) << true << false;
    }
    void retentionBoundaries()
    {
        QFETCH(QString, strName);
        QFETCH(qint64, llAge);
        QFETCH(bool, bDirectory);
        QFETCH(bool, bDeleted);
        const QString strPath = logDir() + QLatin1Char('/') + strName;
        QVERIFY(bDirectory ? QDir().mkpath(strPath) : touch(strPath));
        const qint64 llNow = QDateTime::currentSecsSinceEpoch();
        QVERIFY(setAge(strPath, llNow, llAge));

        CBackupFiles channel(QStringLiteral("PrinterLog"));
        channel.removeOldLogs(QDateTime::fromSecsSinceEpoch(llNow));

        QCOMPARE(!QFileInfo::exists(strPath), bDeleted);
        const auto lstMessages = MessageCapture::take();
        if (bDeleted) {
            QCOMPARE(lstMessages.size(), 1);
            QCOMPARE(lstMessages.first().first, QtDebugMsg);
            QVERIFY(lstMessages.first().second.startsWith(QStringLiteral("Deleted file:")));
            QVERIFY(lstMessages.first().second.contains(strPath));
        } else {
            QVERIFY(lstMessages.isEmpty());
        }
    }

    // A file that cannot be deleted is reported and skipped; the next old file is still removed.
    void undeletableFileIsReportedAndSkipped()
    {
        const qint64 llNow = QDateTime::currentSecsSinceEpoch();
        const QString strStuck = logDir() + QStringLiteral("/PrinterLog_a.log");
        const QString strOld = logDir() + QStringLiteral("/PrinterLog_b.log");
        QVERIFY(touch(strStuck) && touch(strOld));
        QVERIFY(setAge(strStuck, llNow, 700000) && setAge(strOld, llNow, 700000));
        if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), strStuck}) != 0)
            QSKIP("chattr +i is not available here");
        auto guard = qScopeGuard([&] { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), strStuck}); });

        CBackupFiles channel(QStringLiteral("PrinterLog"));
        channel.removeOldLogs(QDateTime::fromSecsSinceEpoch(llNow));

        QVERIFY(QFileInfo::exists(strStuck));
        QVERIFY(!QFileInfo::exists(strOld));
        const auto lstMessages = MessageCapture::take();
        QCOMPARE(lstMessages.size(), 2);
        int nWarnings = 0;
        for (const auto &message : lstMessages) {
            if (message.first == QtWarningMsg) {
                ++nWarnings;
                QVERIFY(message.second.startsWith(QStringLiteral("Failed to delete file:")));
                QVERIFY(message.second.contains(strStuck));
            }
        }
        QCOMPARE(nWarnings, 1);
    }

    void missingDirectoryAtCleanupWarns()
    {
        QVERIFY(QDir(logDir()).removeRecursively());
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        channel.removeOldLogs(QDateTime::currentDateTime());
        const auto lstMessages = MessageCapture::take();
        QCOMPARE(lstMessages.size(), 1);
        QCOMPARE(lstMessages.first().first, QtWarningMsg);
        QVERIFY(lstMessages.first().second.startsWith(QStringLiteral("Directory does not exist:")));
        QVERIFY(lstMessages.first().second.contains(logDir()));
    }

    void removedDirectoryIsCreatedAgain()
    {
        CBackupFiles channel(QStringLiteral("VodLog"));
        channel.start(QThread::IdlePriority);
        channel.writeLog(QStringLiteral("first\n"));
        const QString strFile = todayFile(logDir(), QStringLiteral("VodLog"));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(strFile), QByteArray("first\n"), 3000);
        QVERIFY(QDir(logDir()).removeRecursively());
        channel.writeLog(QStringLiteral("second\n"));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(strFile), QByteArray("second\n"), 3000);
    }

    // A directory that cannot be created loses the batch without a word; later batches get through.
    void unwritableDirectoryDropsBatchSilently()
    {
        const QString strBlocker = tmpDir.path() + QStringLiteral("/blocked");
        QVERIFY(touch(strBlocker));
        CBackupFiles::initLogDir(strBlocker);
        CBackupFiles channel(QStringLiteral("PrinterLog"));
        channel.start(QThread::IdlePriority);
        channel.writeLog(QStringLiteral("lost\n"));
        QTRY_COMPARE_WITH_TIMEOUT(channel.pendingCount(), 0, 3000);
        QVERIFY(channel.isRunning());

        QVERIFY(QFile::remove(strBlocker));
        channel.writeLog(QStringLiteral("kept\n"));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(todayFile(strBlocker + QStringLiteral("/logs"))), QByteArray("kept\n"), 3000);
        // Only the daily cleanup (first pass after 03:00) may speak, about the missing directory.
        for (const auto &message : MessageCapture::take())
            QVERIFY2(message.second.startsWith(QStringLiteral("Directory does not exist:")), qPrintable(message.second));
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
        const QString strFile = todayFile(logDir());
        QTRY_COMPARE_WITH_TIMEOUT(readAll(strFile).count('\n'), 6, 3000);
        const QStringList lstLines = QString::fromUtf8(readAll(strFile)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lstLines.mid(0, 5), QVector<QString>(5, strLine.chopped(1)).toList());
        const QRegularExpression re(QStringLiteral("^\\[[-0-9 :]{19}\\] 日志队列已满，丢弃3行日志 \\(BackupFiles.cpp:\\d+\\)$"));
        QVERIFY2(re.match(lstLines.at(5)).hasMatch(), qPrintable(lstLines.at(5)));

        // Drained: the queue takes lines again, and there is nothing more to report.
        channel.writeLog(strLine);
        QTRY_COMPARE_WITH_TIMEOUT(readAll(strFile).count('\n'), 7, 3000);
        QVERIFY(readAll(strFile).endsWith(strLine.toUtf8()));
    }

    void linesQueuedAtDestructionAreDropped()
    {
        auto pChannel = std::make_unique<CBackupFiles>(QStringLiteral("PrinterLog"));
        pChannel->start(QThread::IdlePriority);
        pChannel->writeLog(QStringLiteral("written\n"));
        const QString strFile = todayFile(logDir());
        // Right after a batch the writer sleeps for 500 ms: the next line stays queued.
        QTRY_COMPARE_WITH_TIMEOUT(readAll(strFile), QByteArray("written\n"), 3000);
        pChannel->writeLog(QStringLiteral("late\n"));
        QElapsedTimer timer;
        timer.start();
        pChannel.reset();
        QVERIFY2(timer.elapsed() < 1000, "an idle channel must stop within the 1000 ms wait");
        QCOMPARE(readAll(strFile), QByteArray("written\n"));
    }

    // A batch stuck in a write (here: a FIFO nobody reads) keeps the destructor waiting past
    // 1000 ms rather than destroying the thread object under a running thread.
    void destructorOutwaitsStuckBatch()
    {
        const QString strFile = todayFile(logDir());
        QVERIFY(mkfifo(QFile::encodeName(strFile).constData(), 0600) == 0);
        auto pChannel = std::make_unique<CBackupFiles>(QStringLiteral("PrinterLog"));
        pChannel->start(QThread::IdlePriority);
        pChannel->writeLog(QStringLiteral("stuck\n"));
        QTRY_COMPARE_WITH_TIMEOUT(pChannel->pendingCount(), 0, 3000);

        std::atomic<bool> bDestroyed{false};
        std::thread destroyer([&] {
            pChannel.reset();
            bDestroyed = true;
        });
        QTest::qWait(1300);
        const bool bDestroyedEarly = bDestroyed;
        const int nReader = open(QFile::encodeName(strFile).constData(), O_RDONLY | O_NONBLOCK);
        QTRY_VERIFY_WITH_TIMEOUT(bDestroyed, 3000);
        destroyer.join();
        char szBuffer[16] = {};
        const ssize_t nRead = read(nReader, szBuffer, sizeof szBuffer - 1);
        close(nReader);
        QVERIFY(!bDestroyedEarly);
        QCOMPARE(QByteArray(szBuffer, int(qMax<ssize_t>(nRead, 0))), QByteArray("stuck\n"));
    }
};

QTEST_GUILESS_MAIN(TestLogChannel)
#include "tst_LogChannel.moc"

// The print queue's worker: order, one job at a time, quantities, the logo wait, closing mid-print.
#include <QtTest>

#include <thread>

#include "log/Log.h"
#include "printing/PrinterQueue.h"

class TestPrintQueue : public QObject
{
    Q_OBJECT

    QTemporaryDir dirLogos;

    void add(CPrinterQueue &queue, const QString &strContent, const QString &strLogo = "present.png")
    {
        PrintJob job;
        job.strContent = strContent;
        if (!strLogo.isEmpty())
            job.strLogo = dirLogos.filePath(strLogo);
        job.llQueuedMs = QDateTime::currentMSecsSinceEpoch();
        queue.addPrintJob(job);
    }

private slots:
    void initTestCase() { QVERIFY(QFile(dirLogos.filePath("present.png")).open(QIODevice::WriteOnly)); }

    void inOrderOneAtATimeUntilClosed()
    {
        QStringList lstEvents; // quantities and each print's start (+) and end (-); read after the join
        QSemaphore semStarted;
        QSemaphore semRelease;
        auto pQueue = std::make_unique<CPrinterQueue>();
        const auto note = [&](int n) { lstEvents << QString::number(n); };
        connect(pQueue.get(), &CPrinterQueue::quantityChanged, this, note, Qt::DirectConnection);
        const auto releaseOnFailure = qScopeGuard([&semRelease] { semRelease.release(10); }); // before the queue goes
        pQueue->setPrintFunction([&](PrintJob &job) {
            lstEvents << '+' + job.strContent;
            semStarted.release();
            semRelease.acquire();
            lstEvents << '-' + job.strContent;
        });
        for (const char *pContent : {"first", "second", "third", "fourth"})
            add(*pQueue, pContent);
        pQueue->start(); // normal priority: an idle-priority worker may starve while other tests run
        semRelease.release(2);
        QVERIFY(semStarted.tryAcquire(3, 5000)); // "third" is in print
        std::thread releaser([&semRelease] {
            QThread::msleep(300);
            semRelease.release();
        });
        pQueue.reset(); // finishes "third", drops "fourth"
        releaser.join();
        QCOMPARE(lstEvents.join(' '), QString("1 2 3 4 +first -first 3 +second -second 2 +third -third 1"));
    }

    void logoWait_data()
    {
        QTest::addColumn<QString>("strLogo");
        QTest::addColumn<int>("nWaitMs"); // for the logo file; 1500: gave up, printed without it and said so
        QTest::newRow("logo there") << "present.png" << 0;
        QTest::newRow("logo arrives late") << "late.png" << 700;
        QTest::newRow("logo never arrives") << "never.png" << 1500;
        QTest::newRow("no logo") << QString() << 1500;
    }
    void logoWait()
    {
        QFETCH(QString, strLogo);
        QFETCH(int, nWaitMs);
        const QString strPath = dirLogos.filePath(strLogo);
        if (nWaitMs > 0 && nWaitMs < 1500)
            QTimer::singleShot(nWaitMs, this, [strPath] { QFile(strPath).open(QFile::WriteOnly); });
        std::atomic<qint64> llWaitedMs{-1};
        CPrinterQueue queue;
        const auto print = [&](PrintJob &job) { llWaitedMs = QDateTime::currentMSecsSinceEpoch() - job.llQueuedMs; };
        queue.setPrintFunction(print);
        add(queue, "x", strLogo);
        queue.start();
        QTRY_VERIFY_WITH_TIMEOUT(llWaitedMs >= nWaitMs, 5000);
        QVERIFY2(llWaitedMs < nWaitMs + 800, qPrintable(QString::number(llWaitedMs)));
        const QString strLine = "商家logo文件超时，现直接打印(" + strLogo + ')';
        QCOMPARE(g_printerLog.pendingLines().filter(strLine).size(), int(nWaitMs >= 1500));
    }
};

QTEST_GUILESS_MAIN(TestPrintQueue)
#include "tst_printqueue.moc"

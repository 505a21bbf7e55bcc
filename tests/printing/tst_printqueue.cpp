// The print queue's worker: order, one job at a time, quantities, the logo wait, closing mid-print.
#include <thread>
#include "common/AppTestMain.h"
#include "log/Log.h"
#include "printing/PrinterQueue.h"

class TestPrintQueue : public QObject
{
    Q_OBJECT
    QTemporaryDir dirLogos;

    void add(CPrinterQueue &queue, const QString &strContent, const QString &strLogo = "present.png")
    {
        PrintJob job{0, 0, 0, 0, QString(), strContent, strLogo.isEmpty() ? QString() : dirLogos.filePath(strLogo), QDateTime::currentMSecsSinceEpoch(), false};
        queue.addPrintJob(job);
    }

private slots:
    void initTestCase() { QVERIFY(QFile(dirLogos.filePath("present.png")).open(QIODevice::WriteOnly)); }

    void printsInOrderOneAtATimeUntilClosed()
    {
        QStringList lstEvents; // quantities and each print's start (+) and end (-); read after the join
        QSemaphore semStarted, semRelease;
        auto pQueue = std::make_unique<CPrinterQueue>();
        connect(pQueue.get(), &CPrinterQueue::quantityChanged, this, [&](int n) { lstEvents << QString::number(n); }, Qt::DirectConnection);
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
        std::thread releaser([&semRelease] { QThread::msleep(300); semRelease.release(); });
        pQueue.reset(); // finishes "third", drops "fourth"
        releaser.join();
        QCOMPARE(lstEvents.join(' '), QStringLiteral("1 2 3 4 +first -first 3 +second -second 2 +third -third 1"));
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
        if (nWaitMs > 0 && nWaitMs < 1500)
            QTimer::singleShot(nWaitMs, this, [this, strLogo] { QFile(dirLogos.filePath(strLogo)).open(QIODevice::WriteOnly); });
        std::atomic<qint64> llWaitedMs{-1};
        CPrinterQueue queue;
        queue.setPrintFunction([&](PrintJob &job) { llWaitedMs = QDateTime::currentMSecsSinceEpoch() - job.llQueuedMs; });
        add(queue, "x", strLogo);
        queue.start();
        QTRY_VERIFY2_WITH_TIMEOUT(llWaitedMs >= nWaitMs && llWaitedMs < nWaitMs + 800, qPrintable(QString::number(llWaitedMs)), 5000);
        const QString strLine = QStringLiteral("打印机等待获取商家logo文件超时，现直接打印(%1)").arg(strLogo);
        QCOMPARE(g_printerLog.pendingLines().filter(strLine).size(), int(nWaitMs >= 1500));
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrintQueue)
#include "tst_printqueue.moc"

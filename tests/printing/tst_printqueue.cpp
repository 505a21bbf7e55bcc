// The print queue's worker: order, one job at a time, the published quantities, the wait for the
// logo with its time-out line, and shutdown in the middle of a print.
#include <QDateTime>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <thread>

#include "common/AppTestMain.h"
#include "log/Log.h"
#include "printing/PrinterQueue.h"

namespace {
void writeLogo(const QString &strPath)
{
    QFile file(strPath);
    if (file.open(QIODevice::WriteOnly))
        file.write("png");
}
}

class TestPrintQueue : public QObject
{
    Q_OBJECT

    QTemporaryDir dirLogos;
    QMutex mutex;                    // the worker records, the test reads
    QStringList lstPrinted;
    QVector<qint64> vecWaitedMs;     // from queued to printed
    QVector<int> vecQuantities;      // every quantity the queue published

    void add(CPrinterQueue &queue, const QString &strContent, const QString &strLogo = QStringLiteral("present.png"))
    {
        PrintJob job;
        job.strContent = strContent;
        job.strLogo = strLogo.isEmpty() ? QString() : dirLogos.filePath(strLogo);
        job.llQueuedMs = QDateTime::currentMSecsSinceEpoch();
        queue.addPrintJob(job);
    }
    void record(const PrintJob &job)
    {
        QMutexLocker locker(&mutex);
        lstPrinted << job.strContent;
        vecWaitedMs << QDateTime::currentMSecsSinceEpoch() - job.llQueuedMs;
    }
    template <typename T> T locked(const T &value)
    {
        QMutexLocker locker(&mutex);
        return value;
    }

private slots:
    void initTestCase()
    {
        writeLogo(dirLogos.filePath(QStringLiteral("present.png")));
    }
    void init()
    {
        QMutexLocker locker(&mutex);
        lstPrinted.clear();
        vecWaitedMs.clear();
        vecQuantities.clear();
    }

    // Closing the queue finishes the receipt in print and drops the waiting ones.
    void printsInOrderOneAtATimeUntilClosed()
    {
        QSemaphore semStarted, semRelease;
        QAtomicInt nInPrint, nMostInPrint;
        auto pQueue = std::make_unique<CPrinterQueue>();
        connect(pQueue.get(), &CPrinterQueue::quantityChanged, this, [this](int nQuantity) {
            QMutexLocker locker(&mutex);
            vecQuantities << nQuantity;
        }, Qt::DirectConnection);
        const auto releaseOnFailure = qScopeGuard([&semRelease] { semRelease.release(10); }); // before the queue goes
        pQueue->setPrintFunction([&](PrintJob &job) {
            nMostInPrint.storeRelaxed(qMax(nMostInPrint.loadRelaxed(), nInPrint.fetchAndAddOrdered(1) + 1));
            semStarted.release();
            semRelease.acquire();
            nInPrint.fetchAndAddOrdered(-1);
            record(job);
        });
        for (const char *pContent : {"first", "second", "third"})
            add(*pQueue, QString::fromLatin1(pContent));
        pQueue->start(QThread::IdlePriority);
        QVERIFY(semStarted.tryAcquire(1, 5000));
        add(*pQueue, QStringLiteral("fourth"));
        QCOMPARE(locked(vecQuantities).last(), 4); // the receipt in print still counts
        semRelease.release(2);
        QVERIFY(semStarted.tryAcquire(2, 5000)); // "third" is in print
        std::thread releaser([&semRelease] {
            QThread::msleep(300);
            semRelease.release();
        });
        pQueue.reset();
        releaser.join();
        QCOMPARE(locked(lstPrinted), QStringList({"first", "second", "third"}));
        QCOMPARE(locked(vecQuantities), QVector<int>({1, 2, 3, 4, 3, 2, 1}));
        QCOMPARE(nMostInPrint.loadRelaxed(), 1);
    }

    // A receipt waits up to 1.5 s for its logo file, then prints without it and says so.
    void logoWait_data()
    {
        QTest::addColumn<QString>("strLogo");
        QTest::addColumn<int>("nArrivesMs"); // -1: never
        QTest::addColumn<int>("nMinMs");
        QTest::addColumn<int>("nMaxMs");
        QTest::newRow("logo there") << "present.png" << 0 << 0 << 700;
        QTest::newRow("logo arrives late") << "late.png" << 700 << 700 << 1500;
        QTest::newRow("logo never arrives") << "never.png" << -1 << 1500 << 3000;
        QTest::newRow("no logo") << QString() << -1 << 1500 << 3000;
    }
    void logoWait()
    {
        QFETCH(QString, strLogo);
        QFETCH(int, nArrivesMs);
        QFETCH(int, nMinMs);
        QFETCH(int, nMaxMs);
        if (nArrivesMs > 0)
            QTimer::singleShot(nArrivesMs, this, [this, strLogo] { writeLogo(dirLogos.filePath(strLogo)); });
        CPrinterQueue queue;
        queue.setPrintFunction([this](PrintJob &job) { record(job); });
        add(queue, QStringLiteral("x"), strLogo);
        queue.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(locked(lstPrinted).size(), 1, 5000);
        const qint64 llWaitedMs = locked(vecWaitedMs).at(0);
        QVERIFY2(llWaitedMs >= nMinMs && llWaitedMs < nMaxMs, qPrintable(QString::number(llWaitedMs)));
        const QString strLine = QStringLiteral("打印机等待获取商家logo文件超时，现直接打印(%1)").arg(strLogo);
        QCOMPARE(g_printerLog.pendingLines().filter(strLine).size(), nArrivesMs < 0 ? 1 : 0);
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrintQueue)
#include "tst_printqueue.moc"

// The print queue's worker: order, one job at a time, the published quantities, the wait for the
// logo with its time-out line, and shutdown in the middle of a print.
#include <QDateTime>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "common/AppTestMain.h"
#include "log/Log.h"
#include "printing/PrinterQueue.h"

namespace {
const QString kTimeoutLine = QStringLiteral("打印机等待获取商家logo文件超时，现直接打印(%1)");

CMainApp *mainApp()
{
    return static_cast<CMainApp *>(QCoreApplication::instance());
}

void writeLogo(const QString &strPath)
{
    QFile file(strPath);
    if (file.open(QIODevice::WriteOnly))
        file.write("png");
}

PrintJob makeJob(const QString &strContent, const QString &strLogo)
{
    PrintJob job;
    job.strContent = strContent;
    job.strLogo = strLogo;
    job.llQueuedMs = QDateTime::currentMSecsSinceEpoch();
    return job;
}
}

class TestPrintQueue : public QObject
{
    Q_OBJECT

    QTemporaryDir dirLogos;
    QString strPresentLogo;
    QMutex mutex;                // the worker records, the test reads
    QStringList lstPrinted;
    QVector<qint64> vecPrintedAtMs;
    QVector<int> vecQuantities;  // every quantity the application was told

    CPrinterQueue::PrintFunction recorder()
    {
        return [this](PrintJob &job) {
            QMutexLocker locker(&mutex);
            lstPrinted << job.strContent;
            vecPrintedAtMs << QDateTime::currentMSecsSinceEpoch();
        };
    }
    QStringList printed()
    {
        QMutexLocker locker(&mutex);
        return lstPrinted;
    }
    QVector<int> quantities()
    {
        QMutexLocker locker(&mutex);
        return vecQuantities;
    }

private slots:
    void initTestCase()
    {
        strPresentLogo = dirLogos.filePath(QStringLiteral("present.png"));
        writeLogo(strPresentLogo);
        connect(mainApp(), &CMainApp::printQuantityChanged, this, [this] {
            QMutexLocker locker(&mutex);
            vecQuantities << mainApp()->getPrintQuantity();
        }, Qt::DirectConnection);
    }
    void init()
    {
        mainApp()->setPrintQuantity(0);
        QMutexLocker locker(&mutex);
        lstPrinted.clear();
        vecPrintedAtMs.clear();
        vecQuantities.clear();
    }

    void printsInOrderOneAtATime()
    {
        QSemaphore semStarted, semRelease;
        QAtomicInt nInPrint, nMostInPrint;
        CPrinterQueue queue(mainApp());
        queue.setPrintFunction([&](PrintJob &job) {
            nMostInPrint.storeRelaxed(qMax(nMostInPrint.loadRelaxed(), nInPrint.fetchAndAddOrdered(1) + 1));
            semStarted.release();
            semRelease.acquire();
            nInPrint.fetchAndAddOrdered(-1);
            recorder()(job);
        });
        for (const QString &strContent : {QStringLiteral("first"), QStringLiteral("second")}) {
            PrintJob job = makeJob(strContent, strPresentLogo);
            queue.addPrintJob(job);
        }
        queue.start(QThread::IdlePriority);
        QVERIFY(semStarted.tryAcquire(1, 5000));
        PrintJob job = makeJob(QStringLiteral("third"), strPresentLogo);
        queue.addPrintJob(job);
        QCOMPARE(mainApp()->getPrintQuantity(), 3); // the receipt in print still counts
        semRelease.release(3);
        QTRY_COMPARE_WITH_TIMEOUT(printed(), QStringList({"first", "second", "third"}), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(quantities(), QVector<int>({1, 2, 3, 2, 1, 0}), 1000);
        QCOMPARE(nMostInPrint.loadRelaxed(), 1);
        QCOMPARE(queue.jobCount(), 0);
    }

    // A receipt waits up to 1.5 s for its logo file, then prints without it and says so.
    void logoWait_data()
    {
        QTest::addColumn<QString>("strLogo");
        QTest::addColumn<int>("nArrivesMs"); // -1: never
        QTest::addColumn<int>("nMinMs");
        QTest::addColumn<int>("nMaxMs");
        QTest::addColumn<bool>("bTimeOutLine");
        QTest::newRow("logo there") << "there.png" << 0 << 0 << 700 << false;
        QTest::newRow("logo arrives late") << "late.png" << 700 << 700 << 1500 << false;
        QTest::newRow("logo never arrives") << "never.png" << -1 << 1500 << 3000 << true;
        QTest::newRow("no logo") << QString() << -1 << 1500 << 3000 << true;
    }
    void logoWait()
    {
        QFETCH(QString, strLogo);
        QFETCH(int, nArrivesMs);
        QFETCH(int, nMinMs);
        QFETCH(int, nMaxMs);
        QFETCH(bool, bTimeOutLine);
        const QString strPath = strLogo.isEmpty() ? QString() : dirLogos.filePath(strLogo);
        if (nArrivesMs == 0)
            writeLogo(strPath);
        else if (nArrivesMs > 0)
            QTimer::singleShot(nArrivesMs, this, [strPath] { writeLogo(strPath); });
        CPrinterQueue queue(mainApp());
        queue.setPrintFunction(recorder());
        PrintJob job = makeJob(QStringLiteral("x"), strPath);
        queue.addPrintJob(job);
        queue.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(printed().size(), 1, 5000);
        const qint64 llWaitedMs = vecPrintedAtMs.at(0) - job.llQueuedMs;
        QVERIFY2(llWaitedMs >= nMinMs && llWaitedMs < nMaxMs, qPrintable(QString::number(llWaitedMs)));
        QCOMPARE(g_printerLog.pendingLines().filter(kTimeoutLine.arg(strLogo)).size(), bTimeOutLine ? 1 : 0);
    }

    // Closing finishes the receipt in print (the worker is not cut off) and drops the waiting ones.
    void destructionFinishesThePrintAndDropsTheRest()
    {
        QSemaphore semStarted;
        auto pQueue = std::make_unique<CPrinterQueue>(mainApp());
        pQueue->setPrintFunction([&](PrintJob &job) {
            semStarted.release();
            QThread::msleep(300);
            recorder()(job);
        });
        for (int i = 0; i < 3; ++i) {
            PrintJob job = makeJob(QString::number(i), strPresentLogo);
            pQueue->addPrintJob(job);
        }
        pQueue->start(QThread::IdlePriority);
        QVERIFY(semStarted.tryAcquire(1, 5000));
        QElapsedTimer timer;
        timer.start();
        pQueue.reset();
        QVERIFY(timer.elapsed() < 1500);
        QCOMPARE(printed(), QStringList({"0"}));
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrintQueue)
#include "tst_printqueue.moc"

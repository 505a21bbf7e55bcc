// The print queue's worker: order, published quantities, the logo wait and shutdown.
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>

#include "common/AppTestMain.h"
#include "log/Log.h"
#include "printing/PrinterQueue.h"

namespace {
const QString kTimeoutLine = QStringLiteral("打印机等待获取商家logo文件超时，现直接打印(%1)");

CMainApp *mainApp()
{
    return static_cast<CMainApp *>(QCoreApplication::instance());
}

bool logged(const QString &strText)
{
    for (const QString &strLine : g_printerLog.pendingLines()) {
        if (strLine.contains(strText))
            return true;
    }
    return false;
}

// Records what the worker prints and every quantity the application is told.
struct Recorder
{
    QMutex mutex;
    QStringList lstPrinted;
    QVector<int> vecQuantities;
    QVector<qint64> vecPrintedAtMs;
    QObject context;

    Recorder()
    {
        QObject::connect(mainApp(), &CMainApp::printQuantityChanged, &context, [this]() {
            QMutexLocker locker(&mutex);
            vecQuantities.append(mainApp()->getPrintQuantity());
        }, Qt::DirectConnection);
    }
    CPrinterQueue::PrintFunction printer()
    {
        return [this](PrintJob &job) {
            QMutexLocker locker(&mutex);
            lstPrinted.append(job.strContent);
            vecPrintedAtMs.append(QDateTime::currentMSecsSinceEpoch());
        };
    }
    int printedCount()
    {
        QMutexLocker locker(&mutex);
        return lstPrinted.size();
    }
    QVector<int> quantities()
    {
        QMutexLocker locker(&mutex);
        return vecQuantities;
    }
};

PrintJob makeJob(const QString &strContent, const QString &strLogo, qint64 llAgeMs = 0)
{
    PrintJob job;
    job.strContent = strContent;
    job.strLogo = strLogo;
    job.llQueuedMs = QDateTime::currentMSecsSinceEpoch() - llAgeMs;
    return job;
}
}

class TestPrintQueue : public QObject
{
    Q_OBJECT

    QTemporaryDir dirLogos;
    QString strPresentLogo;

private slots:
    void initTestCase()
    {
        strPresentLogo = dirLogos.path() + QStringLiteral("/present.png");
        QFile file(strPresentLogo);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("png");
    }
    void init() { mainApp()->setPrintQuantity(0); }

    void printsInOrderAndPublishesEveryChange()
    {
        Recorder recorder;
        CPrinterQueue queue(mainApp());
        queue.setPrintFunction(recorder.printer());
        for (const QString &strContent : {QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")}) {
            PrintJob job = makeJob(strContent, strPresentLogo);
            queue.addPrintJob(job);
            QCOMPARE(job.nValid, 1);
        }
        queue.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.printedCount(), 3, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.quantities(), QVector<int>({1, 2, 3, 2, 1, 0}), 1000);
        QCOMPARE(queue.jobCount(), 0);
        QMutexLocker locker(&recorder.mutex);
        QCOMPARE(recorder.lstPrinted, QStringList({"first", "second", "third"}));
        // 100 ms apart, not 500: the next job is picked up right after the pause.
        QVERIFY(recorder.vecPrintedAtMs[2] - recorder.vecPrintedAtMs[0] < 450);
        QVERIFY(!logged(kTimeoutLine.arg(QStringLiteral("present.png"))));
    }

    void addingDuringAPrintRaisesTheQuantity()
    {
        Recorder recorder;
        QSemaphore semStarted, semRelease;
        CPrinterQueue queue(mainApp());
        queue.setPrintFunction([&](PrintJob &job) {
            semStarted.release();
            semRelease.acquire();
            recorder.printer()(job);
        });
        PrintJob job = makeJob(QStringLiteral("a"), strPresentLogo);
        queue.addPrintJob(job);
        queue.start(QThread::IdlePriority);
        QVERIFY(semStarted.tryAcquire(1, 5000));
        PrintJob jobLater = makeJob(QStringLiteral("b"), strPresentLogo);
        queue.addPrintJob(jobLater);
        QCOMPARE(mainApp()->getPrintQuantity(), 2);  // the job in print still counts
        semRelease.release(2);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.printedCount(), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.quantities(), QVector<int>({1, 2, 1, 0}), 1000);
    }

    void logoArrivingLatePrintsWithoutTimeOut()
    {
        Recorder recorder;
        const QString strLogo = dirLogos.path() + QStringLiteral("/late.png");
        CPrinterQueue queue(mainApp());
        queue.setPrintFunction(recorder.printer());
        PrintJob job = makeJob(QStringLiteral("late logo"), strLogo);
        queue.addPrintJob(job);
        queue.start(QThread::IdlePriority);
        QTimer::singleShot(700, [strLogo]() {
            QFile file(strLogo);
            if (file.open(QIODevice::WriteOnly))
                file.write("png");
        });
        QTRY_COMPARE_WITH_TIMEOUT(recorder.printedCount(), 1, 5000);
        const qint64 llWaitedMs = recorder.vecPrintedAtMs[0] - job.llQueuedMs;
        QVERIFY2(llWaitedMs >= 700 && llWaitedMs < 1500, qPrintable(QString::number(llWaitedMs)));
        QVERIFY(!logged(kTimeoutLine.arg(QStringLiteral("late.png"))));
    }

    void jobWithoutLogoPrintsAfterTimeOut()
    {
        Recorder recorder;
        CPrinterQueue queue(mainApp());
        queue.setPrintFunction(recorder.printer());
        // Built 1200 ms ago: still waited for at the first pass, printed at the next one.
        PrintJob job = makeJob(QStringLiteral("no logo"), QString(), 1200);
        queue.addPrintJob(job);
        queue.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.printedCount(), 1, 5000);
        QVERIFY(recorder.vecPrintedAtMs[0] - job.llQueuedMs > 1500);
        QVERIFY(logged(kTimeoutLine.arg(QString())));
    }

    void destructionFinishesThePrintAndDropsTheRest()
    {
        Recorder recorder;
        QSemaphore semStarted;
        QAtomicInt nFinished;
        auto *pQueue = new CPrinterQueue(mainApp());
        pQueue->setPrintFunction([&](PrintJob &job) {
            semStarted.release();
            QThread::msleep(300);
            recorder.printer()(job);
            nFinished.fetchAndAddOrdered(1);
        });
        for (int i = 0; i < 3; ++i) {
            PrintJob job = makeJob(QString::number(i), strPresentLogo);
            pQueue->addPrintJob(job);
        }
        pQueue->start(QThread::IdlePriority);
        QVERIFY(semStarted.tryAcquire(1, 5000));
        QElapsedTimer timer;
        timer.start();
        delete pQueue;
        QVERIFY(timer.elapsed() < 1500);  // the print in progress plus one pause
        QCOMPARE(int(nFinished), 1);
        QCOMPARE(recorder.lstPrinted, QStringList({"0"}));
    }

    void worksWithoutApplicationObject()
    {
        Recorder recorder;
        CPrinterQueue queue(nullptr);
        queue.setPrintFunction(recorder.printer());
        PrintJob job = makeJob(QStringLiteral("x"), strPresentLogo);
        queue.addPrintJob(job);
        queue.start(QThread::IdlePriority);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.printedCount(), 1, 5000);
        QVERIFY(recorder.quantities().isEmpty());
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrintQueue)
#include "tst_printqueue.moc"

#include "printing/PrinterQueue.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "app/MainApp.h"
#include "log/Log.h"
#include "printing/PrinterManager.h"

namespace {
const unsigned long kIdleSleepMs = 500;
const unsigned long kAfterPrintSleepMs = 100;
// How long a receipt may wait for its logo download before it prints without the logo.
const qint64 kLogoWaitMs = 1500;
}

CPrinterQueue::CPrinterQueue(CMainApp *pMainApp)
    : QThread(nullptr)
    , pMainApp(pMainApp)
    , pPrinterManager(new CPrinterManager(nullptr))
{
}

CPrinterQueue::~CPrinterQueue()
{
    bStop = true;
    wait();  // the receipt being printed is finished; the waiting ones are dropped
    delete pPrinterManager;
    pPrinterManager = nullptr;
}

void CPrinterQueue::addPrintJob(PrintJob &job)
{
    job.nValid = 1;
    mutex.lock();
    vecJobs.append(job);
    const int nQuantity = vecJobs.size();
    mutex.unlock();
    publishQuantity(nQuantity);
}

void CPrinterQueue::setPrinterConfig(PrintJob &record)
{
    if (pPrinterManager)
        pPrinterManager->setPrinterConfig(record);
}

int CPrinterQueue::jobCount()
{
    QMutexLocker locker(&mutex);
    return vecJobs.size();
}

void CPrinterQueue::run()
{
    while (!bStop) {
        mutex.lock();
        if (!vecJobs.isEmpty())
            jobCurrent = vecJobs.first();
        mutex.unlock();

        if (jobCurrent.nValid != 0 && isLogoReady()) {
            printCurrentJob();
            msleep(kAfterPrintSleepMs);
        } else {
            msleep(kIdleSleepMs);
        }
    }
}

bool CPrinterQueue::isLogoReady()
{
    if (QFile::exists(jobCurrent.strLogo))
        return true;
    if (QDateTime::currentMSecsSinceEpoch() - jobCurrent.llQueuedMs > kLogoWaitMs) {
        WRITE_LOG(g_printerLog, QStringLiteral("打印机等待获取商家logo文件超时，现直接打印(%1)")
                                    .arg(QFileInfo(jobCurrent.strLogo).fileName()));
        return true;
    }
    return false;
}

void CPrinterQueue::setPrintFunction(const PrintFunction &fnPrint)
{
    QMutexLocker locker(&mutex);
    fnPrintJob = fnPrint;
}

void CPrinterQueue::printCurrentJob()
{
    mutex.lock();
    const PrintFunction fnPrint = fnPrintJob;
    mutex.unlock();
    if (fnPrint)
        fnPrint(jobCurrent);
    else
        pPrinterManager->printReceipt(jobCurrent);

    jobCurrent.nValid = 0;
    jobCurrent.nLeft = 0;
    jobCurrent.nWidth = 0;
    jobCurrent.nHeight = 0;
    jobCurrent.strName = QString();
    jobCurrent.strContent = QString();

    mutex.lock();
    if (!vecJobs.isEmpty())
        vecJobs.removeFirst();
    const int nQuantity = vecJobs.size();
    mutex.unlock();
    publishQuantity(nQuantity);
}

void CPrinterQueue::publishQuantity(int nQuantity)
{
    // setPrintQuantity stores and signals only a changed value.
    if (pMainApp)
        pMainApp->setPrintQuantity(nQuantity);
}

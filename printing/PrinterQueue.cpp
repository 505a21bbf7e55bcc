#include "printing/PrinterQueue.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "log/Log.h"
#include "printing/PrinterManager.h"

namespace {
const unsigned long kAfterPrintSleepMs = 100;
// How long a receipt may wait for its logo download before it prints without the logo.
const qint64 kLogoWaitMs = 1500;
// The logo is a file the main thread renames into place; looking this often costs nothing.
const unsigned long kLogoPollMs = 20;
}

CPrinterQueue::CPrinterQueue(QObject *parent)
    : QThread(parent)
    , pPrinterManager(std::make_unique<CPrinterManager>(nullptr))
{
}

CPrinterQueue::~CPrinterQueue()
{
    mutex.lock();
    bStop = true;
    condJobs.wakeAll();
    mutex.unlock();
    wait();  // the receipt being printed is finished; the waiting ones are dropped
}

void CPrinterQueue::addPrintJob(PrintJob &job)
{
    job.nValid = 1;
    mutex.lock();
    vecJobs.append(job);
    const int nQuantity = vecJobs.size();
    condJobs.wakeOne();
    mutex.unlock();
    emit quantityChanged(nQuantity);
}

void CPrinterQueue::setPrinterConfig(PrintJob &record)
{
    pPrinterManager->setPrinterConfig(record);
}

int CPrinterQueue::jobCount()
{
    QMutexLocker locker(&mutex);
    return vecJobs.size();
}

void CPrinterQueue::run()
{
    while (takeNextJob()) {
        if (!waitForLogo())
            break;
        printCurrentJob();
        pause(kAfterPrintSleepMs);
    }
}

bool CPrinterQueue::takeNextJob()
{
    QMutexLocker locker(&mutex);
    while (!bStop && vecJobs.isEmpty())
        condJobs.wait(&mutex);
    if (bStop)
        return false;
    jobCurrent = vecJobs.first();  // stays listed, and counted, until it is printed
    return true;
}

bool CPrinterQueue::waitForLogo()
{
    while (!isLogoReady()) {
        pause(kLogoPollMs);
        if (bStop)
            return false;
    }
    return true;
}

void CPrinterQueue::pause(unsigned long ulMs)
{
    QMutexLocker locker(&mutex);
    if (!bStop)
        condJobs.wait(&mutex, ulMs);
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
    jobCurrent = PrintJob();

    mutex.lock();
    if (!vecJobs.isEmpty())
        vecJobs.removeFirst();
    const int nQuantity = vecJobs.size();
    mutex.unlock();
    emit quantityChanged(nQuantity);
}

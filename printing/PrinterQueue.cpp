#include "printing/PrinterQueue.h"

#include "app/MainApp.h"

CPrinterQueue::CPrinterQueue(CMainApp *pMainApp)
    : QThread(nullptr)
    , pMainApp(pMainApp)
{
}

CPrinterQueue::~CPrinterQueue()
{
    bStop = true;
    wait();
}

void CPrinterQueue::addPrintJob(PrintJob &job)
{
    job.nValid = 1;
}

void CPrinterQueue::setPrinterConfig(PrintJob &record)
{
    Q_UNUSED(record);
}

void CPrinterQueue::run()
{
    while (!bStop)
        msleep(100);
}

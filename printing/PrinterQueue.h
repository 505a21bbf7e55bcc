#pragma once

#include <QMutex>
#include <QThread>
#include <QVector>

#include <atomic>

#include "printing/PrintJob.h"

class CMainApp;
class CPrinterManager;

// TODO(printing): worker loop, logo wait, publishing the quantity.
class CPrinterQueue : public QThread
{
    Q_OBJECT
public:
    explicit CPrinterQueue(CMainApp *pMainApp);
    ~CPrinterQueue() override;

    void addPrintJob(PrintJob &job);
    void setPrinterConfig(PrintJob &record);

protected:
    void run() override;

private:
    CMainApp *pMainApp = nullptr;
    QMutex mutex;
    std::atomic<bool> bStop{false};
    CPrinterManager *pPrinterManager = nullptr;
    PrintJob jobCurrent;
    QVector<PrintJob> vecJobs;
};

#pragma once

#include <QMutex>
#include <QThread>
#include <QVector>

#include <atomic>
#include <functional>

#include "printing/PrintJob.h"

class CMainApp;
class CPrinterManager;

// Receipts waiting for the printer, printed one at a time on this worker thread so that the
// HTTP side never waits for paper. Publishes the number of waiting jobs to the application.
class CPrinterQueue : public QThread
{
    Q_OBJECT
public:
    // What prints one job; the printer manager unless a test puts something else in.
    using PrintFunction = std::function<void(PrintJob &)>;

    explicit CPrinterQueue(CMainApp *pMainApp);
    ~CPrinterQueue() override;

    void addPrintJob(PrintJob &job);
    void setPrinterConfig(PrintJob &record);

    // Replaces the printing step (tests and fuzzers); takes effect from the next job on.
    void setPrintFunction(const PrintFunction &fnPrint);
    CPrinterManager *printerManager() const { return pPrinterManager; }
    int jobCount();

protected:
    void run() override;

private:
    bool isLogoReady();
    void printCurrentJob();
    void publishQuantity(int nQuantity);

    CMainApp *pMainApp = nullptr;
    QMutex mutex;
    std::atomic<bool> bStop{false};
    CPrinterManager *pPrinterManager = nullptr;
    PrintJob jobCurrent;
    QVector<PrintJob> vecJobs;
    PrintFunction fnPrintJob;
};

#pragma once

#include <QMutex>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

#include "printing/PrintJob.h"

class CPrinterManager;

// Receipts waiting for the printer, printed one at a time on this worker thread so that the
// HTTP side never waits for paper. The worker sleeps until a job arrives.
class CPrinterQueue : public QThread
{
    Q_OBJECT
public:
    // What prints one job; the printer manager unless a test puts something else in.
    using PrintFunction = std::function<void(PrintJob &)>;

    explicit CPrinterQueue(QObject *parent = nullptr);
    ~CPrinterQueue() override;

    void addPrintJob(PrintJob &job);
    void setPrinterConfig(PrintJob &record);

    // Replaces the printing step (tests and fuzzers); takes effect from the next job on.
    void setPrintFunction(const PrintFunction &fnPrint);
    CPrinterManager *printerManager() const { return pPrinterManager.get(); }
    int jobCount();

signals:
    // The number of waiting jobs changed; emitted from the thread that changed it.
    void quantityChanged(int nQuantity);

protected:
    void run() override;

private:
    bool takeNextJob();
    bool waitForLogo();
    bool isLogoReady();
    void printCurrentJob();
    void pause(unsigned long ulMs);

    QMutex mutex;
    QWaitCondition condJobs;  // a job arrived, or the queue is stopping
    std::atomic<bool> bStop{false};
    std::unique_ptr<CPrinterManager> pPrinterManager;
    PrintJob jobCurrent;
    QVector<PrintJob> vecJobs;
    PrintFunction fnPrintJob;
};

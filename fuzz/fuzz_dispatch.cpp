// Arbitrary command bodies to the dispatcher of the real application object in a temporary directory.
// Runs only inside a private network namespace (fuzz/run.sh): room datagrams stay on its loopback,
// logo downloads find no route, CUPS_SERVER points nowhere (printer queries go through the printer
// lister's thread and find no scheduler at once; each input waits for its reply), and queued receipts go to a recording fake instead of the printer manager.
#include <QTemporaryDir>

#include <atomic>
#include <cstdlib>

#include <QCoreApplication>

#include "app/MainApp.h"
#include "commands/CommandDispatcher.h"
#include "printing/PrinterQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_dispatch";
    static char *pArgv[] = {szName, nullptr};
    static QTemporaryDir *pDir = (setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1), new QTemporaryDir);
    static CMainApp *pApp = new CMainApp(nArgc, pArgv, pDir->path());
    static bool bStarted = (pApp->start(), true);
    Q_UNUSED(bStarted);
    static std::atomic<int> nPrinted{0};
    static bool bFake = (pApp->printerQueue()->setPrintFunction([](PrintJob &) { ++nPrinted; }), true);
    Q_UNUSED(bFake);
    bool bDone = false;
    pApp->dispatcher()->dispatch(QByteArray::fromRawData(pData, int(unSize)), [&bDone](const QString &) { bDone = true; });
    while (!bDone)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

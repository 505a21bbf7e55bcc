// Arbitrary command bodies to the dispatcher over the real services in a temporary directory, with no
// application object. Runs only inside a private network namespace (fuzz/run.sh): room datagrams stay
// on its loopback, logo downloads find no route, CUPS_SERVER points nowhere (printer queries find no
// scheduler at once; each input waits for its reply), and receipts go to a recording fake.
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

#include "commands/CommandDispatcher.h"
#include "commands/PrinterJson.h"
#include "commands/PrinterList.h"
#include "printing/FileLoader.h"
#include "printing/PrinterQueue.h"
#include "rooms/InformationServices.h"
#include "update/AutoUpdate.h"

namespace {
struct Services
{
    QTemporaryDir dir;
    PrinterJson store{dir.path()};
    CPrinterQueue queue;
    CPrinterLister lister;
    FileLoader logos{dir.path()};
    CAutoUpdate updater{dir.path()};
    CInformationServices rooms;  // its files go nowhere: the store is not handed to it
    CCommandDispatcher dispatcher{{&queue, &lister, &store, &rooms, &updater, &logos}};
};
}

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char *pArgv[] = {const_cast<char *>("fuzz_dispatch"), nullptr};
    static QGuiApplication *pApp = (setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1), new QGuiApplication(nArgc, pArgv));
    // Destroyed at exit before the log channels it writes to: the print thread is stopped first.
    static std::unique_ptr<Services> pServices = [] {
        auto pNew = std::make_unique<Services>();
        pNew->queue.setPrintFunction([](PrintJob &) {});
        pNew->queue.start();
        pNew->lister.start();
        pNew->rooms.start();
        return pNew;
    }();
    Q_UNUSED(pApp);
    bool bDone = false;
    pServices->dispatcher.dispatch(QByteArray::fromRawData(pData, int(unSize)), [&bDone](const QString &) { bDone = true; });
    while (!bDone)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

// Command bodies to the dispatcher over the real services in a temporary directory. fuzz/run.sh runs it
// in a private network namespace; the scheduler is one that is not there, receipts print nowhere.
#include <QGuiApplication>
#include <QTemporaryDir>

#include "commands/CommandDispatcher.h"
#include "commands/PrinterJson.h"
#include "commands/PrinterList.h"
#include "printing/FileLoader.h"
#include "printing/PrinterQueue.h"
#include "rooms/InformationServices.h"
#include "update/AutoUpdate.h"

namespace {
int nArgc = 1;
char szName[] = "fuzz_dispatch";
char *pArgv[] = {szName, nullptr};

struct Services
{
    QGuiApplication app{nArgc, pArgv};
    QTemporaryDir dir;
    PrinterJson store{dir.path()};
    CPrinterQueue queue;
    CPrinterLister lister;
    FileLoader logos{dir.path()};
    CAutoUpdate updater{dir.path()};
    CInformationServices rooms; // without the store: its files go nowhere
    CCommandDispatcher dispatcher{{&queue, &lister, &store, &rooms, &updater, &logos}};

    Services()
    {
        qputenv("CUPS_SERVER", "/nonexistent/cups.sock");
        queue.setPrintFunction([](PrintJob &) {});
        queue.start();
        lister.start();
        rooms.start();
    }
};
}

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static Services services; // gone at exit before the log channels its threads write to
    bool bDone = false;
    services.dispatcher.dispatch(QByteArray::fromRawData(pData, int(unSize)), [&](const QString &) { bDone = true; });
    while (!bDone)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

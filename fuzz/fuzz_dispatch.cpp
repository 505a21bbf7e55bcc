// Command bodies to the whole service's dispatcher while its print thread works through the receipts, on
// a scheduler that is not there (no printer is found).
#include <QTemporaryDir>

#include "app/MainApp.h"
#include "commands/CommandDispatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_dispatch";
    static char *pArgv[] = {szName, nullptr};
    static QTemporaryDir dir;
    static CMainApp app(nArgc, pArgv, dir.path()); // gone at exit before the log channels its threads write to
    static const bool bStarted = [] {
        qputenv("CUPS_SERVER", "/nonexistent/cups.sock");
        app.start();
        return true;
    }();
    Q_UNUSED(bStarted);
    bool bDone = false;
    app.dispatcher()->dispatch(QByteArray::fromRawData(pData, int(unSize)), [&](const QString &) { bDone = true; });
    while (!bDone)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

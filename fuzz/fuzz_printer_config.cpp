// "./PrinterConfig.json" with arbitrary content, read and applied as at start-up.
// Creates the application object (not started), inside a private network namespace (fuzz/run.sh).
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include "app/MainApp.h"
#include "commands/CommandDispatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_printer_config";
    static char *pArgv[] = {szName, nullptr};
    static QTemporaryDir *pDir = (setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1), new QTemporaryDir);
    static CMainApp *pApp = new CMainApp(nArgc, pArgv, pDir->path());
    QFile file(pDir->filePath(QStringLiteral("PrinterConfig.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(pData, qint64(unSize)) != qint64(unSize))
        std::abort();
    file.close();
    pApp->dispatcher()->loadPrinterConfig();
    return 0;
}

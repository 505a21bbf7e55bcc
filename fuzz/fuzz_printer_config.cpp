// "./PrinterConfig.json" with arbitrary content, read and applied as at start-up.
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdlib>

#include "commands/CommandDispatcher.h"
#include "commands/PrinterJson.h"
#include "printing/PrinterQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_printer_config";
    static char *pArgv[] = {szName, nullptr};
    static QGuiApplication app(nArgc, pArgv);
    static QTemporaryDir dir;
    static PrinterJson store(dir.path());
    static CPrinterQueue queue;  // not started: the records only reach the printer manager's table
    static CCommandDispatcher dispatcher({&queue, nullptr, &store, nullptr, nullptr, nullptr});
    QFile file(dir.filePath(QStringLiteral("PrinterConfig.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(pData, qint64(unSize)) != qint64(unSize))
        std::abort();
    file.close();
    dispatcher.loadPrinterConfig();
    return 0;
}

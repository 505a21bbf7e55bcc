// "./PrinterConfig.json" with arbitrary content, read and applied as at start-up.
#include <QFile>
#include <QTemporaryDir>

#include "commands/CommandDispatcher.h"
#include "commands/PrinterJson.h"
#include "printing/PrinterQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static QTemporaryDir dir;
    static PrinterJson store(dir.path());
    static CPrinterQueue queue; // not started: the records only reach the printer table
    static CCommandDispatcher dispatcher({&queue, nullptr, &store});
    QFile file(dir.filePath(QStringLiteral("PrinterConfig.json")));
    if (file.open(QIODevice::WriteOnly) && file.write(pData, qint64(unSize)) == qint64(unSize) && file.flush())
        dispatcher.loadPrinterConfig();
    return 0;
}

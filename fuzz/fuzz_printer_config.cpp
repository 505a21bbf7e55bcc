// The printer entries of "./PrinterConfig.json" applied as at start-up.
#include <QJsonDocument>

#include "commands/CommandDispatcher.h"
#include "printing/PrinterQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static CPrinterQueue queue; // not started: the entries only reach the printer table
    static CCommandDispatcher dispatcher({&queue});
    const QJsonDocument config = QJsonDocument::fromJson(QByteArray::fromRawData(pData, int(unSize)));
    dispatcher.applyPrinterEntries(config["data"].toArray());
    return 0;
}

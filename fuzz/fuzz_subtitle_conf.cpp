// "./subtitle.conf" with arbitrary content, read through the JSON file store and turned into the
// subtitle schedule as at start-up; the schedule is written back to text to walk every record.
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include "commands/PrinterJson.h"
#include "rooms/SubtitleRules.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static QTemporaryDir *pDir = new QTemporaryDir;
    static PrinterJson *pStore = new PrinterJson(pDir->path());
    QFile file(pDir->filePath(QStringLiteral("subtitle.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(pData, qint64(unSize)) != qint64(unSize))
        std::abort();
    file.close();
    SubtitleRules::toFile(SubtitleRules::fromFile(pStore->readJsonFile(QStringLiteral("./subtitle.conf"))));
    return 0;
}

// "./subtitle.conf" with arbitrary content turned into the schedule and written back.
#include <QJsonDocument>

#include "rooms/SubtitleRules.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    const QJsonObject objFile = QJsonDocument::fromJson(QByteArray::fromRawData(pData, int(unSize))).object();
    SubtitleRules::toFile(SubtitleRules::fromFile(objFile));
    return 0;
}

// The JSON of an updater link datagram turned into the answer.
#include <QJsonDocument>
#include <QJsonObject>

#include "update/AutoUpdate.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    const QJsonObject obj = QJsonDocument::fromJson(QByteArray::fromRawData(pData, int(unSize))).object();
    CAutoUpdate::buildAnswer(obj["query"].toString(), obj["time"].toString());
    return 0;
}

// The JSON of a datagram at the room services' port (a box status, a relayed subtitle) through the
// rules; the same JSON read as "./subtitle.conf" and written back.
#include <QJsonDocument>

#include "rooms/StbRules.h"
#include "rooms/SubtitleRules.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    const QJsonObject obj = QJsonDocument::fromJson(QByteArray::fromRawData(pData, int(unSize))).object();
    StbRules::listEntry(StbRules::parseStatus(obj, QString(), 0));
    SubtitleRules::deleteMode(obj["data"]);
    SubtitleRules::splitAccounts(SubtitleRules::fromCommand(obj["data"]).accountIds);
    SubtitleRules::toFile(SubtitleRules::fromFile(obj));
    return 0;
}

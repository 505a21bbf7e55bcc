// The JSON of a UDP datagram as the room services read it (a box status, a relayed subtitle) and as the
// updater link answers it; the same JSON read as "./subtitle.conf" and written back.
#include <QJsonDocument>

#include "rooms/StbRules.h"
#include "rooms/SubtitleRules.h"
#include "update/AutoUpdate.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    const QJsonObject obj = QJsonDocument::fromJson(QByteArray::fromRawData(pData, int(unSize))).object();
    StbRules::listEntry(StbRules::parseStatus(obj, QString(), 0));
    SubtitleRules::deleteMode(obj["data"]);
    SubtitleRules::splitAccounts(SubtitleRules::fromCommand(obj["data"]).accountIds);
    SubtitleRules::toFile(SubtitleRules::fromFile(obj));
    CAutoUpdate::buildAnswer(obj["query"].toString(), obj["time"].toString());
    return 0;
}

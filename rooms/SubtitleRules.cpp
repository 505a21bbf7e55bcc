#include "rooms/SubtitleRules.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>

#include "rooms/JsonRead.h"

namespace SubtitleRules {
namespace {
QJsonObject fileEntry(const Subtitle &subtitle)
{
    QJsonObject objEntry;
    objEntry.insert(QStringLiteral("remark"), subtitle.remark);
    objEntry.insert(QStringLiteral("count"), QString::number(subtitle.count));
    objEntry.insert(QStringLiteral("intervalTime"), QString::number(subtitle.intervalTime));
    objEntry.insert(QStringLiteral("cashier_push_id"), QString::number(subtitle.cashier_push_id));
    objEntry.insert(QStringLiteral("start_time"), QString::number(subtitle.start_time));
    objEntry.insert(QStringLiteral("end_time"), QString::number(subtitle.end_time));
    objEntry.insert(QStringLiteral("time"), QString::number(subtitle.time));
    objEntry.insert(QStringLiteral("accountIds"), subtitle.accountIds);
    return objEntry;
}

// The file stores numbers as text, but hand-edited or older files may hold plain numbers.
Subtitle fromFileEntry(const QJsonObject &objEntry)
{
    Subtitle subtitle;
    subtitle.remark = JsonRead::text(objEntry.value(QStringLiteral("remark")));
    subtitle.count = JsonRead::looseInt(objEntry.value(QStringLiteral("count")));
    subtitle.intervalTime = JsonRead::looseInt(objEntry.value(QStringLiteral("intervalTime")));
    subtitle.cashier_push_id = JsonRead::looseInt(objEntry.value(QStringLiteral("cashier_push_id")));
    subtitle.start_time = JsonRead::looseUInt(objEntry.value(QStringLiteral("start_time")));
    subtitle.end_time = JsonRead::looseUInt(objEntry.value(QStringLiteral("end_time")));
    subtitle.time = JsonRead::looseUInt(objEntry.value(QStringLiteral("time")));
    subtitle.accountIds = JsonRead::text(objEntry.value(QStringLiteral("accountIds")));
    return subtitle;
}
}

Subtitle fromCommand(const QJsonValue &command)
{
    const QJsonObject objCommand = command.toObject();
    Subtitle subtitle;
    subtitle.remark = JsonRead::text(objCommand.value(QStringLiteral("remark")));
    subtitle.count = JsonRead::strictInt(objCommand.value(QStringLiteral("count")));
    subtitle.intervalTime = JsonRead::strictInt(objCommand.value(QStringLiteral("intervalTime")));
    subtitle.accountIds = JsonRead::text(objCommand.value(QStringLiteral("accountIds")));
    subtitle.cashier_push_id = JsonRead::strictInt(objCommand.value(QStringLiteral("cashier_push_id")));
    subtitle.start_time = JsonRead::looseUInt(objCommand.value(QStringLiteral("start_time")));
    subtitle.end_time = JsonRead::looseUInt(objCommand.value(QStringLiteral("end_time")));
    subtitle.time = JsonRead::looseUInt(objCommand.value(QStringLiteral("time")));
    return subtitle;
}

qint32 deleteMode(const QJsonValue &command)
{
    return JsonRead::strictInt(command.toObject().value(QStringLiteral("delete")));
}

int removeByPushId(QVector<Subtitle> &vecSubtitle, qint32 nPushId)
{
    const int nBefore = vecSubtitle.size();
    vecSubtitle.erase(std::remove_if(vecSubtitle.begin(), vecSubtitle.end(),
                                     [nPushId](const Subtitle &s) { return s.cashier_push_id == nPushId; }),
                      vecSubtitle.end());
    return nBefore - vecSubtitle.size();
}

bool isActive(const Subtitle &subtitle, quint32 unNow)
{
    if (subtitle.count > 0)
        return true;
    return subtitle.count == Subtitle::kRepeatUntilEnd && subtitle.end_time >= unNow;
}

bool isDue(const Subtitle &subtitle, quint32 unNow)
{
    return quint32(unNow - subtitle.lastSendTime) >= quint32(subtitle.intervalTime);
}

QVector<quint32> splitAccounts(const QString &strAccountIds)
{
    QVector<quint32> vecAccounts;
    const QStringList lstParts = strAccountIds.split(QLatin1Char(','));
    for (const QString &strPart : lstParts) {
        bool bOk = false;
        const quint32 unAccount = strPart.toUInt(&bOk, 10);
        vecAccounts.append(bOk ? unAccount : 0);
    }
    return vecAccounts;
}

QJsonObject toFile(const QVector<Subtitle> &vecSubtitle)
{
    QJsonArray arrList;
    for (const Subtitle &subtitle : vecSubtitle)
        arrList.append(fileEntry(subtitle));
    QJsonObject objFile;
    objFile.insert(QStringLiteral("list"), arrList);
    return objFile;
}

QVector<Subtitle> fromFile(const QJsonObject &objFile)
{
    QVector<Subtitle> vecSubtitle;
    const QJsonValue valueList = objFile.value(QStringLiteral("list"));
    if (!valueList.isArray())
        return vecSubtitle;
    const QJsonArray arrList = valueList.toArray();
    for (const QJsonValue &valueEntry : arrList)
        vecSubtitle.append(fromFileEntry(valueEntry.toObject()));
    return vecSubtitle;
}
}

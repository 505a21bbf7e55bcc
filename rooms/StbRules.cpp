#include "rooms/StbRules.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "rooms/JsonRead.h"

namespace StbRules {
StbInfo parseStatus(const QJsonObject &objStatus, const QString &strSenderIp, quint32 unTime)
{
    StbInfo stbInfo;
    stbInfo.unAccount = JsonRead::looseUInt(objStatus.value(QStringLiteral("account")));
    stbInfo.roomName = JsonRead::text(objStatus.value(QStringLiteral("roomName")));
    stbInfo.strIp = strSenderIp;
    stbInfo.cprtQrCode = JsonRead::text(objStatus.value(QStringLiteral("cprtQrCode")));
    stbInfo.isServer = JsonRead::strictInt(objStatus.value(QStringLiteral("isServer")));
    stbInfo.isCloseRoom = JsonRead::strictInt(objStatus.value(QStringLiteral("isCloseRoom")));
    stbInfo.cprtSigned = JsonRead::strictInt(objStatus.value(QStringLiteral("cprtSigned")));
    stbInfo.cprtPayStatus = JsonRead::strictInt(objStatus.value(QStringLiteral("cprtPayStatus")));
    stbInfo.cprtTime = JsonRead::looseUInt(objStatus.value(QStringLiteral("cprtTime")));
    stbInfo.unTime = unTime;
    return stbInfo;
}

int indexOf(const QVector<StbInfo> &vecStbInfo, quint32 unAccount)
{
    for (int i = 0; i < vecStbInfo.size(); ++i) {
        if (vecStbInfo.at(i).unAccount == unAccount)
            return i;
    }
    return -1;
}

void upsert(QVector<StbInfo> &vecStbInfo, const StbInfo &stbInfo)
{
    const int nIndex = indexOf(vecStbInfo, stbInfo.unAccount);
    if (nIndex >= 0)
        vecStbInfo[nIndex] = stbInfo;
    else if (stbInfo.isServer == 0)
        vecStbInfo.append(stbInfo);
    else
        vecStbInfo.prepend(stbInfo);
}

bool isOnline(quint32 unTime, quint32 unNow)
{
    return unTime < unNow && unNow - unTime <= kOnlineWindowMs;
}

QJsonObject listEntry(const StbInfo &stbInfo)
{
    QJsonObject objEntry;
    objEntry.insert(QStringLiteral("unAccount"), QString::number(stbInfo.unAccount));
    objEntry.insert(QStringLiteral("roomName"), stbInfo.roomName);
    objEntry.insert(QStringLiteral("strIp"), stbInfo.strIp);
    objEntry.insert(QStringLiteral("isServer"), stbInfo.isServer);
    objEntry.insert(QStringLiteral("isCloseRoom"), stbInfo.isCloseRoom);
    objEntry.insert(QStringLiteral("cprtQrCode"), stbInfo.cprtQrCode);
    objEntry.insert(QStringLiteral("cprtPayStatus"), stbInfo.cprtPayStatus);
    objEntry.insert(QStringLiteral("cprtSigned"), stbInfo.cprtSigned);
    objEntry.insert(QStringLiteral("cprtTime"), QString::number(stbInfo.cprtTime));
    objEntry.insert(QStringLiteral("unTime"), QString::number(stbInfo.unTime));
    return objEntry;
}

QString listReply(const QJsonArray &arrOnline)
{
    // The compact text of {"code":180,"data":[...]}, written around the array alone: serialising
    // the object cost more than the rest of the page's most frequent request.
    QByteArray baReply = QByteArrayLiteral("{\"code\":180,\"data\":");
    baReply += QJsonDocument(arrOnline).toJson(QJsonDocument::Compact);
    baReply += '}';
    QString strReply = QString::fromUtf8(baReply);
    strReply.remove(QLatin1Char(' '));
    return strReply;
}
}

#include "rooms/RoomDatagrams.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace RoomDatagrams {
QByteArray roomCommand(qint32 nType, const QString &strContent, quint32 unTimes, const QString &strClientIp)
{
    QJsonObject objCommand;
    objCommand.insert(QStringLiteral("clientIP"), strClientIp);
    objCommand.insert(QStringLiteral("type"), QString::number(nType));
    objCommand.insert(QStringLiteral("content"), strContent);
    objCommand.insert(QStringLiteral("times"), QString::number(unTimes));
    return QJsonDocument(objCommand).toJson(QJsonDocument::Indented);
}

QString subtitleSyncText(const QJsonValue &command)
{
    QJsonObject objSync;
    objSync.insert(QStringLiteral("query"), QStringLiteral("subtitle"));
    objSync.insert(QStringLiteral("data"), command);
    return QString::fromUtf8(QJsonDocument(objSync).toJson(QJsonDocument::Compact));
}

QByteArray syncPayload(const QString &strText)
{
    return strText.toUtf8().left(kSyncMaxBytes);
}
}

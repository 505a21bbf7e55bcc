#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

// Bytes of the datagrams that go to the set-top boxes and to the other print controls.
namespace RoomDatagrams {
// Longest sync text sent; it travels in a 2048-byte buffer that ends with a zero byte.
const int kSyncMaxBytes = 2046;

// The "type" of a room command, as the set-top boxes know it.
const qint32 kTypeOpenRoom = 3;
const qint32 kTypeCloseRoom = 4;
const qint32 kTypeFireAlarmOn = 5;
const qint32 kTypeFireAlarmOff = 6;
const qint32 kTypeSubtitle = 26;

// Indented JSON with "clientIP", "content", "times" and "type"; numbers are sent as text.
QByteArray roomCommand(qint32 nType, const QString &strContent, quint32 unTimes, const QString &strClientIp);
// Compact {"data": command, "query": "subtitle"} relayed to the other print controls.
QString subtitleSyncText(const QJsonValue &command);
// The UTF-8 bytes of a sync text, cut to the buffer's limit.
QByteArray syncPayload(const QString &strText);
}

#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>

// What the room terminal services take from their surroundings. The defaults are the venue's
// fixed ports and groups; an empty clock is the system's, any other empty function answers nothing.
struct RoomServiceOptions
{
    static constexpr quint16 kSharedPort = 19262;  // what the other print controls listen on, like us

    quint16 unListenPort = kSharedPort;  // status announcements and relayed subtitles
    quint16 unRoomPort = 18108;          // the boxes' command port
    quint16 unSyncPort = kSharedPort;    // the other print controls' port
    QString strStatusGroup = QStringLiteral("224.0.0.8");
    QString strRoomGroup = QStringLiteral("224.0.0.19");
    int nTickMs = 3000;                  // subtitle scheduler; 0 leaves the timer stopped

    std::function<quint32()> fnTickMs;        // monotonic milliseconds
    std::function<quint32()> fnWallSeconds;   // seconds since 1970-01-01 UTC
    std::function<QString()> fnLocalIp;
    std::function<QString()> fnBroadcastIp;
    std::function<QJsonObject(const QString &)> fnReadJson;
    std::function<bool(const QJsonObject &, const QString &)> fnWriteJson;
    // Replaces the socket's send, e.g. to watch the datagrams.
    std::function<void(const QByteArray &, const QString &, quint16)> fnSend;
};

#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include "log/Log.h"
#include "rooms/RoomServiceOptions.h"

// Stands in for everything CInformationServices takes from outside: both clocks, the JSON store,
// the own addresses and the wire. Nothing here sleeps; tests move the clocks by hand.
struct RoomsHarness
{
    struct Sent
    {
        QByteArray baData;
        QString strIp;
        quint16 unPort;
    };

    quint32 unWallSeconds = 1700000000;
    quint32 unTickMs = 1000;
    QString strLocalIp = QStringLiteral("192.168.77.20");
    QString strBroadcastIp = QStringLiteral("192.168.77.255");
    QMap<QString, QJsonObject> mapFiles;
    int nWrites = 0;
    QVector<Sent> vecSent;
    QStringList lstEvents; // "send <ip>:<port>" and "write <file>", in the order they happened

    RoomServiceOptions options(quint16 unListenPort = 0)
    {
        RoomServiceOptions opts;
        opts.unListenPort = unListenPort;
        opts.nTickMs = 0;
        opts.fnTickMs = [this] { return unTickMs; };
        opts.fnWallSeconds = [this] { return unWallSeconds; };
        opts.fnLocalIp = [this] { return strLocalIp; };
        opts.fnBroadcastIp = [this] { return strBroadcastIp; };
        opts.fnReadJson = [this](const QString &strName) { return mapFiles.value(strName); };
        opts.fnWriteJson = [this](const QJsonObject &obj, const QString &strName) {
            mapFiles.insert(strName, obj);
            ++nWrites;
            lstEvents.append(QStringLiteral("write ") + strName);
            return true;
        };
        opts.fnSend = [this](const QByteArray &baData, const QString &strIp, quint16 unPort) {
            vecSent.append({baData, strIp, unPort});
            lstEvents.append(QStringLiteral("send %1:%2").arg(strIp).arg(unPort));
        };
        return opts;
    }

    QJsonObject sentObject(int nIndex) const { return QJsonDocument::fromJson(vecSent.at(nIndex).baData).object(); }
};

// Lines of a channel that contain the text (the writer threads are not running in these tests,
// so every line stays pending).
inline int countLogLines(CBackupFiles &channel, const QString &strText)
{
    int nCount = 0;
    for (const QString &strLine : channel.pendingLines())
        nCount += strLine.contains(strText) ? 1 : 0;
    return nCount;
}

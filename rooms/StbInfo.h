#pragma once

#include <QString>
#include <QtGlobal>

// One set-top box as it last announced itself; the registry keeps one per account.
struct StbInfo
{
    quint32 unAccount = 0;
    QString roomName;
    QString strIp;
    QString cprtQrCode;
    qint32 isServer = 0;
    qint32 isCloseRoom = 0;
    qint32 cprtSigned = 0;
    qint32 cprtPayStatus = 0;
    quint32 cprtTime = 0;
    quint32 unTime = 0; // getTickMs when the last announcement arrived
};

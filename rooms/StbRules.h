#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include "rooms/StbInfo.h"

// Registry rules of the set-top boxes, free of sockets and clocks.
namespace StbRules {
const quint32 kOnlineWindowMs = 15000;

// The record that a "stbInfo" announcement describes.
StbInfo parseStatus(const QJsonObject &objStatus, const QString &strSenderIp, quint32 unTime);
// Index of the first record of the account, or -1.
int indexOf(const QVector<StbInfo> &vecStbInfo, quint32 unAccount);
// Overwrites the account's record in place; a new server goes to the front, any other new box to the end.
void upsert(QVector<StbInfo> &vecStbInfo, const StbInfo &stbInfo);
// Heard from strictly before now and at most the online window ago.
bool isOnline(quint32 unTime, quint32 unNow);
// One element of the "InfoData" list.
QJsonObject listEntry(const StbInfo &stbInfo);
// The compact reply text with every space removed.
QString listReply(const QJsonArray &arrOnline);
}

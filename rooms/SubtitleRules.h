#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QVector>

#include "rooms/Subtitle.h"

// Subtitle schedule rules and the "./subtitle.conf" format, free of sockets, files and clocks.
namespace SubtitleRules {
const qint32 kDeleteAll = 2;

// The record an add command describes (a non-object reads as all zeros and empty texts).
Subtitle fromCommand(const QJsonValue &command);
// The command's "delete": 2 = all, above 0 = by push id, 0 or less = add.
qint32 deleteMode(const QJsonValue &command);
// Removes every record of the push id (0 matches the records added without one); returns how many.
int removeByPushId(QVector<Subtitle> &vecSubtitle, qint32 nPushId);

// Still to be sent: sends left, or repeating and not yet past its end.
bool isActive(const Subtitle &subtitle, quint32 unNow);
// At least intervalTime seconds (as unsigned) since the last send.
bool isDue(const Subtitle &subtitle, quint32 unNow);
// The accounts of "accountIds"; every part counts, a part that is no number reads as 0.
QVector<quint32> splitAccounts(const QString &strAccountIds);

QJsonObject toFile(const QVector<Subtitle> &vecSubtitle);
// Records of the file's "list" array in file order; no array gives none.
QVector<Subtitle> fromFile(const QJsonObject &objFile);
}

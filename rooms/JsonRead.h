#pragma once

#include <QJsonValue>
#include <QString>

// Lenient readers for the JSON that boxes, print controls and the cashier send: a value of the
// wrong type reads as 0 or as empty text instead of failing.
namespace JsonRead {
// A number holding an integer; anything else is 0.
qint32 strictInt(const QJsonValue &value);
// A number (rounded) or a string of decimal digits; anything else is 0.
quint32 looseUInt(const QJsonValue &value);
// The same for signed values.
qint32 looseInt(const QJsonValue &value);
// A string; anything else is empty.
QString text(const QJsonValue &value);
}

#include "rooms/JsonRead.h"

#include <cmath>

namespace JsonRead {
namespace {
// Rounds like a variant conversion does and wraps into 32 bits; values beyond 64 bits read as 0.
qint64 roundedNumber(double dValue)
{
    if (!std::isfinite(dValue) || std::fabs(dValue) >= 9.0e18)
        return 0;
    return qRound64(dValue);
}
}

qint32 strictInt(const QJsonValue &value)
{
    return value.toInt(0);
}

quint32 looseUInt(const QJsonValue &value)
{
    if (value.isDouble())
        return quint32(roundedNumber(value.toDouble()));
    if (value.isString()) {
        bool bOk = false;
        const quint32 unValue = value.toString().toUInt(&bOk, 10);
        return bOk ? unValue : 0;
    }
    return 0;
}

qint32 looseInt(const QJsonValue &value)
{
    if (value.isDouble())
        return qint32(roundedNumber(value.toDouble()));
    if (value.isString()) {
        bool bOk = false;
        const qint32 nValue = value.toString().toInt(&bOk, 10);
        return bOk ? nValue : 0;
    }
    return 0;
}

QString text(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}
}

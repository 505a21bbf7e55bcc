#pragma once

#include <QString>
#include <QtGlobal>

// One scheduled scrolling text for the rooms.
struct Subtitle
{
    static constexpr qint32 kRepeatUntilEnd = -99;

    qint32 count = 0;            // sends left, or kRepeatUntilEnd
    qint32 intervalTime = 0;     // seconds between sends, compared as unsigned
    qint32 cashier_push_id = 0;  // 0 = none
    quint32 time = 0;            // travels to the boxes as "times"
    quint32 lastSendTime = 0;    // wall-clock second of the last send; never stored
    quint32 start_time = 0;
    quint32 end_time = 0;
    QString remark;
    QString accountIds;          // comma-separated accounts; empty = every room
};

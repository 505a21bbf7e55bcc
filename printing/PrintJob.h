#pragma once

#include <QString>

// A receipt on its way to the printer; with nValid 0 and no content it is a printer's
// geometry record (name, left offset, paper width and height).
struct PrintJob
{
    qint32 nValid = 0;
    qint32 nLeft = 0;
    qint32 nWidth = 0;
    qint32 nHeight = 0;
    QString strName;
    QString strContent;
    QString strLogo;
    qint64 llQueuedMs = 0;
    // strName came from the cashier page unchecked: an unknown name prints on the default printer
    // without the not-found line, because the reply already told the page.
    bool bNameUnchecked = false;
};

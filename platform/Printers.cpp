#include "platform/Printers.h"

namespace Platform {
PrinterFacts factsFromSpoolerRecord(const QString &strName, const QString &strPortName, quint32 unAttributes,
                                    quint32 unStatus)
{
    PrinterFacts facts;
    facts.strName = strName;
    facts.strPort = strPortName;
    facts.bDefault = (unAttributes & kAttributeDefault) != 0;
    facts.bUsb = strPortName.startsWith(QLatin1String("USB"), Qt::CaseSensitive);
    facts.bOffline = (unAttributes & kAttributeWorkOffline) != 0 || (unStatus & kStatusOffline) != 0
        || (unStatus & kStatusNotAvailable) != 0;
    return facts;
}
}

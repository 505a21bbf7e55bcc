#include "commands/PrinterList.h"

#include <QJsonObject>

QJsonArray buildPrinterList(const QList<Platform::PrinterFacts> &lstPrinters)
{
    QJsonArray arrList;
    for (const Platform::PrinterFacts &facts : lstPrinters) {
        // A USB printer that is off cannot take a receipt; a network queue may still spool it.
        if (facts.bUsb && facts.bOffline)
            continue;
        QJsonObject objPrinter;
        objPrinter.insert(QStringLiteral("name"), facts.strName);
        objPrinter.insert(QStringLiteral("state"), QStringLiteral("Online"));
        objPrinter.insert(QStringLiteral("default"), facts.bDefault ? 1 : 0);
        arrList.append(objPrinter);
    }
    return arrList;
}

QJsonArray getPrinterList()
{
    return buildPrinterList(Platform::installedPrinters());
}

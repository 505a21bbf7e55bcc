// Printer geometry from "./PrinterConfig.json" and from the "Settings" command.
#include "app/MainApp.h"

#include <QJsonArray>

#include "printing/PrintJob.h"
#include "printing/PrinterQueue.h"

void CMainApp::loadPrinterConfig()
{
    // A broken file here means every printer's geometry is gone: someone must find that in the log.
    const QJsonObject objConfig = readJsonFile(QStringLiteral("./PrinterConfig.json"), true);
    const QJsonValue data = objConfig.value(QStringLiteral("data"));
    if (!data.isArray())
        return;
    applyPrinterEntries(data.toArray());
}

void CMainApp::applyPrinterEntries(const QJsonArray &arrEntries)
{
    // One record for the whole walk: a member an entry lacks keeps the previous entry's value.
    PrintJob record;
    for (const QJsonValue &value : arrEntries) {
        const QJsonObject objEntry = value.toObject();
        const QJsonValue name = objEntry.value(QStringLiteral("Name"));
        if (name.isString())
            record.strName = name.toString();
        if (objEntry.contains(QStringLiteral("PrinterLeft")))
            record.nLeft = objEntry.value(QStringLiteral("PrinterLeft")).toInt();
        if (objEntry.contains(QStringLiteral("Width")))
            record.nWidth = objEntry.value(QStringLiteral("Width")).toInt();
        if (objEntry.contains(QStringLiteral("Height")))
            record.nHeight = objEntry.value(QStringLiteral("Height")).toInt();
        pPrinterQueue->setPrinterConfig(record);
    }
}

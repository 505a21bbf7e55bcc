#pragma once

#include <QJsonArray>
#include <QList>

#include "platform/Printers.h"

// The installed printers as the "PrinterStatus" command reports them.
QJsonArray getPrinterList();

// The listing rule on its own: offline USB printers are left out, every other printer is "Online".
QJsonArray buildPrinterList(const QList<Platform::PrinterFacts> &lstPrinters);

#pragma once

#include <QJsonArray>

// The installed printers as the "PrinterStatus" command reports them.
QJsonArray getPrinterList();

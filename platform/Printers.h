#pragma once

#include <QList>
#include <QString>

namespace Platform {

// What the printer list needs to know about one installed printer.
struct PrinterFacts
{
    QString strName;
    QString strDeviceUri;
    bool bDefault = false;
    bool bUsb = false;      // attached through a USB port
    bool bOffline = false;  // switched off, unplugged or paused
};

// Installed printers in the printing system's own order; empty when it cannot be asked.
QList<PrinterFacts> installedPrinters();

// A device address counts as USB when its scheme is exactly "usb".
bool isUsbDeviceUri(const QString &strDeviceUri);
// Offline: stopped (IPP printer-state 5), or a state reason (comma-separated) beginning with "offline".
bool isOfflineState(const QString &strPrinterState, const QString &strStateReasons);

}

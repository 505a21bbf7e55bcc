#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
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

// One look at the printing system.
struct PrinterListing
{
    enum Outcome {
        Listed,       // the scheduler answered (possibly with no printers)
        NoScheduler,  // nothing to ask: no scheduler running, or it refused the request
        NoAnswer,     // the scheduler took the request but did not answer in time
    };
    Outcome eOutcome = NoScheduler;
    QList<PrinterFacts> lstPrinters;
};

// A scheduler that has not answered after this long counts as not answering.
constexpr int kPrinterQueryTimeoutMs = 3000;

// The local scheduler's own queues, in its order, from one request; never browses the network for
// printers. Blocks the calling thread for at most about nTimeoutMs.
PrinterListing listPrinters(int nTimeoutMs = kPrinterQueryTimeoutMs);
// The same printers; empty when the printing system cannot be asked.
QList<PrinterFacts> installedPrinters();

// A device address counts as USB when its scheme is exactly "usb".
bool isUsbDeviceUri(const QString &strDeviceUri);
// Offline: stopped (IPP printer-state 5), or a state reason (comma-separated) beginning with "offline".
bool isOfflineState(const QString &strPrinterState, const QString &strStateReasons);
// The user's own default destination ("name" or "name/instance") as the printing library finds it:
// LPDEST, else PRINTER unless it is "lp", else the last "Default" line of the lpoptions files
// (system file first, then the user's). Empty: the scheduler's default applies.
QString userDefaultDestination(const QByteArray &baLpDest, const QByteArray &baPrinter,
                               const QList<QByteArray> &lstLpOptions);

}

Q_DECLARE_METATYPE(Platform::PrinterListing)

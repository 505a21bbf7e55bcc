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
    QString strPort;        // CUPS: the device URI; Windows: the spooler's port name
    bool bDefault = false;  // flagged as the default in the printer's own record ("PrinterStatus")
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
    // Where a receipt without a printer name goes: the system's default printer, which on Windows
    // is not flagged in the printers' records. Empty when there is none.
    QString strDefaultName;
};

// A scheduler that has not answered after this long counts as not answering.
constexpr int kPrinterQueryTimeoutMs = 3000;

// The installed printers in the printing system's order. CUPS: the local scheduler's own queues from
// one request, never browsing the network, blocking for at most about nTimeoutMs. Windows: the
// spooler's local printers and connections (EnumPrintersW, level 2).
PrinterListing listPrinters(int nTimeoutMs = kPrinterQueryTimeoutMs);
// The same printers; empty when the printing system cannot be asked.
QList<PrinterFacts> installedPrinters();

// Rules of the CUPS backend.
// A device address counts as USB when its scheme is exactly "usb".
bool isUsbDeviceUri(const QString &strDeviceUri);
// Offline: stopped (IPP printer-state 5), or a state reason (comma-separated) beginning with "offline".
bool isOfflineState(const QString &strPrinterState, const QString &strStateReasons);
// The user's own default destination ("name" or "name/instance") as the printing library finds it:
// LPDEST, else PRINTER unless it is "lp", else the last "Default" line of the lpoptions files
// (system file first, then the user's). Empty: the scheduler's default applies.
QString userDefaultDestination(const QByteArray &baLpDest, const QByteArray &baPrinter,
                               const QList<QByteArray> &lstLpOptions);

// The spooler's flags in a PRINTER_INFO_2 record that the printer list reads.
constexpr quint32 kAttributeDefault = 0x4;         // PRINTER_ATTRIBUTE_DEFAULT
constexpr quint32 kAttributeWorkOffline = 0x400;   // PRINTER_ATTRIBUTE_WORK_OFFLINE
constexpr quint32 kStatusOffline = 0x80;           // PRINTER_STATUS_OFFLINE
constexpr quint32 kStatusNotAvailable = 0x1000;    // PRINTER_STATUS_NOT_AVAILABLE
// One PRINTER_INFO_2 record as facts (rule of the Windows backend, built everywhere so it is tested
// everywhere): USB when the port name begins with "USB" (case-sensitive); offline when set to work
// offline, or offline, or not available; default from the default attribute alone.
PrinterFacts factsFromSpoolerRecord(const QString &strName, const QString &strPortName, quint32 unAttributes,
                                    quint32 unStatus);

}

Q_DECLARE_METATYPE(Platform::PrinterListing)

#include "platform/Printers.h"

#include <QStringList>

#include <cups/cups.h>

namespace Platform {

bool isUsbDeviceUri(const QString &strDeviceUri)
{
    const int nColon = strDeviceUri.indexOf(QLatin1Char(':'));
    return nColon > 0 && strDeviceUri.left(nColon) == QLatin1String("usb");
}

bool isOfflineState(const QString &strPrinterState, const QString &strStateReasons)
{
    if (strPrinterState.trimmed() == QLatin1String("5"))
        return true;
    const QStringList lstReasons = strStateReasons.split(QLatin1Char(','));
    for (const QString &strReason : lstReasons) {
        if (strReason.trimmed().startsWith(QLatin1String("offline")))
            return true;
    }
    return false;
}

namespace {
QString destOption(const cups_dest_t &dest, const char *pName)
{
    return QString::fromUtf8(cupsGetOption(pName, dest.num_options, dest.options));
}
}

QList<PrinterFacts> installedPrinters()
{
    cups_dest_t *pDests = nullptr;
    const int nDests = cupsGetDests2(CUPS_HTTP_DEFAULT, &pDests);
    QList<PrinterFacts> lstPrinters;
    for (int i = 0; i < nDests; ++i) {
        const cups_dest_t &dest = pDests[i];
        if (dest.instance)  // instances are option sets of a queue, not printers of their own
            continue;
        PrinterFacts facts;
        facts.strName = QString::fromUtf8(dest.name);
        facts.strDeviceUri = destOption(dest, "device-uri");
        facts.bDefault = dest.is_default != 0;
        facts.bUsb = isUsbDeviceUri(facts.strDeviceUri);
        facts.bOffline = isOfflineState(destOption(dest, "printer-state"), destOption(dest, "printer-state-reasons"));
        lstPrinters.append(facts);
    }
    cupsFreeDests(nDests, pDests);
    return lstPrinters;
}

}

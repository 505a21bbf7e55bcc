// The printer list from the Windows spooler: EnumPrintersW, level 2, the local printers and the
// user's printer connections; the default printer from GetDefaultPrinterW, as Qt's own printer
// support has it, because the spooler leaves PRINTER_ATTRIBUTE_DEFAULT unset in level-2 records.
#include "platform/Printers.h"

#include <memory>
#include <new>

#include <windows.h>
#include <winspool.h>

namespace Platform {
namespace {
const DWORD kEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;

QString fromWide(const wchar_t *pText)
{
    return pText ? QString::fromWCharArray(pText) : QString();
}

QString systemDefaultPrinter()
{
    DWORD dwSize = 0;
    GetDefaultPrinterW(nullptr, &dwSize);
    if (dwSize == 0)
        return QString();
    std::unique_ptr<wchar_t[]> pName(new (std::nothrow) wchar_t[dwSize]);
    if (!pName || !GetDefaultPrinterW(pName.get(), &dwSize))
        return QString();
    return QString::fromWCharArray(pName.get());
}

// Every failure (size query, allocation, fetch) leaves the list empty.
QList<PrinterFacts> enumeratePrinters(bool *pAnswered)
{
    DWORD dwNeeded = 0;
    DWORD dwCount = 0;
    const BOOL bSized = EnumPrintersW(kEnumFlags, nullptr, 2, nullptr, 0, &dwNeeded, &dwCount);
    *pAnswered = bSized || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    if (dwNeeded == 0)
        return {};
    std::unique_ptr<BYTE[]> pBuffer(new (std::nothrow) BYTE[dwNeeded]);
    *pAnswered = pBuffer && EnumPrintersW(kEnumFlags, nullptr, 2, pBuffer.get(), dwNeeded, &dwNeeded, &dwCount);
    if (!*pAnswered)
        return {};
    QList<PrinterFacts> lstPrinters;
    const auto *pInfo = reinterpret_cast<const PRINTER_INFO_2W *>(pBuffer.get());
    for (DWORD i = 0; i < dwCount; ++i)
        lstPrinters.append(factsFromSpoolerRecord(fromWide(pInfo[i].pPrinterName), fromWide(pInfo[i].pPortName),
                                                  pInfo[i].Attributes, pInfo[i].Status));
    return lstPrinters;
}
}

PrinterListing listPrinters(int)
{
    // The spooler answers from its own process at once; there is no scheduler that may hang.
    PrinterListing listing;
    bool bAnswered = false;
    listing.lstPrinters = enumeratePrinters(&bAnswered);
    listing.eOutcome = bAnswered ? PrinterListing::Listed : PrinterListing::NoScheduler;
    listing.strDefaultName = systemDefaultPrinter();
    return listing;
}

QList<PrinterFacts> installedPrinters()
{
    return listPrinters().lstPrinters;
}
}

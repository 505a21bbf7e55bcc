// The printer list from the local CUPS scheduler: one CUPS-Get-Printers request on a connection of
// our own with a time limit. cupsGetDests2 is not used: besides the scheduler's queues it browses
// DNS-SD for 250 ms on every call wherever avahi-daemon runs, and it waits minutes for a scheduler
// that has stopped answering.
#include "platform/Printers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <sys/socket.h>

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

QString userDefaultDestination(const QByteArray &baLpDest, const QByteArray &baPrinter,
                               const QList<QByteArray> &lstLpOptions)
{
    if (!baLpDest.isEmpty())
        return QString::fromUtf8(baLpDest);
    if (!baPrinter.isEmpty() && baPrinter != "lp")
        return QString::fromUtf8(baPrinter);
    QString strDefault;
    for (const QByteArray &baFile : lstLpOptions) {
        for (const QByteArray &baLine : baFile.split('\n')) {
            // "Default name[/instance] options..."; the keyword in any case, the last such line wins.
            const QList<QByteArray> lstWords = baLine.simplified().split(' ');
            if (lstWords.size() >= 2 && lstWords[0].toLower() == "default")
                strDefault = QString::fromUtf8(lstWords[1]);
        }
    }
    return strDefault;
}

namespace {
// Only what the printer list and the default flag need.
const char *const kRequestedAttributes[] = {"printer-name", "device-uri", "printer-state", "printer-state-reasons",
                                            "printer-type"};
const double kWaitSliceSeconds = 0.1;

// libcups compares destination names byte by byte (as signed chars), ignoring ASCII case only.
int compareNames(const QString &strA, const QString &strB)
{
    const QByteArray baA = strA.toUtf8();
    const QByteArray baB = strB.toUtf8();
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (int i = 0;; ++i) {
        const char cA = i < baA.size() ? lower(baA[i]) : '\0';
        const char cB = i < baB.size() ? lower(baB[i]) : '\0';
        if (cA != cB || cA == '\0')
            return cA < cB ? -1 : (cA > cB ? 1 : 0);
    }
}

bool lessByName(const PrinterFacts &a, const PrinterFacts &b)
{
    return compareNames(a.strName, b.strName) < 0;
}

// libcups asks this after every short wait for the scheduler; it gives up once the time is spent.
// (One deadline for the whole request: libcups also waits up to a second for "100 Continue".)
struct WaitBudget
{
    QElapsedTimer timer;
    qint64 llBudgetMs = 0;
    bool bTimedOut = false;
};

int keepWaiting(http_t *, void *pBudget)
{
    WaitBudget *pWait = static_cast<WaitBudget *>(pBudget);
    pWait->bTimedOut = pWait->timer.elapsed() >= pWait->llBudgetMs;
    return pWait->bTimedOut ? 0 : 1;
}

QString joinedValues(ipp_attribute_t *pAttr)
{
    QStringList lstValues;
    for (int i = 0; i < ippGetCount(pAttr); ++i)
        lstValues.append(QString::fromUtf8(ippGetString(pAttr, i, nullptr)));
    return lstValues.join(QLatin1Char(','));
}

// One printer's attributes, collected until the group ends.
struct PrinterRecord
{
    PrinterFacts facts;
    QString strState;
    QString strReasons;
    int nType = 0;
};

void takeAttribute(PrinterRecord &record, ipp_attribute_t *pAttr)
{
    const QByteArray baName = ippGetName(pAttr);
    const ipp_tag_t eTag = ippGetValueTag(pAttr);
    if (baName == "printer-name" && eTag == IPP_TAG_NAME)
        record.facts.strName = QString::fromUtf8(ippGetString(pAttr, 0, nullptr));
    else if (baName == "device-uri" && eTag == IPP_TAG_URI)
        record.facts.strPort = QString::fromUtf8(ippGetString(pAttr, 0, nullptr));
    else if (baName == "printer-state" && eTag == IPP_TAG_ENUM)
        record.strState = QString::number(ippGetInteger(pAttr, 0));
    else if (baName == "printer-state-reasons" && eTag == IPP_TAG_KEYWORD)
        record.strReasons = joinedValues(pAttr);
    else if (baName == "printer-type" && eTag == IPP_TAG_ENUM)
        record.nType = ippGetInteger(pAttr, 0);
}

// The printers of a CUPS-Get-Printers response, sorted by name as libcups sorts destinations.
// A printer is the default when the scheduler flags it as its own default.
QList<PrinterFacts> printersOf(ipp_t *pResponse)
{
    QList<PrinterFacts> lstPrinters;
    PrinterRecord record;
    for (ipp_attribute_t *pAttr = ippFirstAttribute(pResponse);; pAttr = ippNextAttribute(pResponse)) {
        const bool bInPrinter = pAttr && ippGetGroupTag(pAttr) == IPP_TAG_PRINTER && ippGetName(pAttr);
        if (bInPrinter) {
            takeAttribute(record, pAttr);
            continue;
        }
        if (!record.facts.strName.isEmpty()) {
            record.facts.bDefault = (record.nType & CUPS_PRINTER_DEFAULT) != 0;
            record.facts.bUsb = isUsbDeviceUri(record.facts.strPort);
            record.facts.bOffline = isOfflineState(record.strState, record.strReasons);
            lstPrinters.append(record.facts);
        }
        record = PrinterRecord();
        if (!pAttr)
            break;
    }
    std::stable_sort(lstPrinters.begin(), lstPrinters.end(), lessByName);
    return lstPrinters;
}

QByteArray fileContent(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The user's LPDEST / PRINTER / lpoptions default overrides the scheduler's, as in libcups.
void applyUserDefault(QList<PrinterFacts> &lstPrinters)
{
    const QByteArray baServerRoot = qEnvironmentVariableIsSet("CUPS_SERVERROOT") ? qgetenv("CUPS_SERVERROOT")
                                                                                   : QByteArray("/etc/cups");
    const QString strUser = userDefaultDestination(
        qgetenv("LPDEST"), qgetenv("PRINTER"),
        {fileContent(QString::fromLocal8Bit(baServerRoot) + QStringLiteral("/lpoptions")),
         fileContent(QDir::homePath() + QStringLiteral("/.cups/lpoptions"))});
    if (strUser.isEmpty())
        return;
    bool bFound = false;
    for (PrinterFacts &facts : lstPrinters) {
        // A default naming an instance makes that option set the default, never the queue itself.
        facts.bDefault = !bFound && !strUser.contains(QLatin1Char('/')) && compareNames(facts.strName, strUser) == 0;
        bFound = bFound || facts.bDefault;
    }
}
}

PrinterListing listPrinters(int nTimeoutMs)
{
    PrinterListing listing;
    WaitBudget budget;
    budget.timer.start();
    budget.llBudgetMs = nTimeoutMs;
    // Looked up afresh each time (CUPS_SERVER, client.conf): the thread-local cache would pin the first answer.
    cupsSetServer(nullptr);
    http_t *pHttp = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, nTimeoutMs, nullptr);
    if (!pHttp) {
        const bool bTimedOut = budget.timer.elapsed() >= nTimeoutMs;
        listing.eOutcome = bTimedOut ? PrinterListing::NoAnswer : PrinterListing::NoScheduler;
        return listing;
    }
    httpSetTimeout(pHttp, kWaitSliceSeconds, keepWaiting, &budget);

    ipp_t *pRequest = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddStrings(pRequest, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(sizeof(kRequestedAttributes) / sizeof(kRequestedAttributes[0])), nullptr, kRequestedAttributes);
    ippAddString(pRequest, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t *pResponse = cupsDoRequest(pHttp, pRequest, "/");
    httpClose(pHttp);
    if (!pResponse) {
        listing.eOutcome = budget.bTimedOut ? PrinterListing::NoAnswer : PrinterListing::NoScheduler;
        return listing;
    }
    listing.eOutcome = PrinterListing::Listed;
    listing.lstPrinters = printersOf(pResponse);
    ippDelete(pResponse);
    applyUserDefault(listing.lstPrinters);
    for (const PrinterFacts &facts : qAsConst(listing.lstPrinters)) {
        if (facts.bDefault) {
            listing.strDefaultName = facts.strName;
            break;
        }
    }
    return listing;
}

QList<PrinterFacts> installedPrinters()
{
    return listPrinters().lstPrinters;
}

}

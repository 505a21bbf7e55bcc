#include "printing/PrinterManager.h"

#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>

#include "log/Log.h"

namespace {
const char *const kFontFamily = "Microsoft YaHei";
const int kFontPointSize = 13;
const int kDefaultPrinterDpi = 96;
// Left margin in points (1/72 inch), the unit Qt's page layout reports for CUPS and Windows
// printers alike; the page's "PrinterLeft" is added to it in the same unit.
const qreal kBaseLeftMargin = 15;
// Only this thread waits for a busy or stuck scheduler, so a receipt may wait far longer than a
// reply to the page does before it counts as having no printer.
const int kPrinterLookupMs = 60000;
}

CPrinterManager::CPrinterManager(QObject *pParent)
    : QObject(pParent)
{
}

CPrinterManager::~CPrinterManager() = default;

void CPrinterManager::setPrinterConfig(PrintJob &record)
{
    QMutexLocker locker(&mutexConfig);
    mapPrinterConfig.insert(record.strName, record);
}

bool CPrinterManager::printerConfig(const QString &strName, PrintJob &record)
{
    QMutexLocker locker(&mutexConfig);
    const auto it = mapPrinterConfig.constFind(strName);
    if (it == mapPrinterConfig.constEnd())
        return false;
    record = it.value();
    return true;
}

CPrinterManager::ChosenPrinter CPrinterManager::choosePrinter(const PrintJob &job)
{
    const Platform::PrinterListing listing = Platform::listPrinters(kPrinterLookupMs);
    ChosenPrinter chosen;
    for (const Platform::PrinterFacts &facts : listing.lstPrinters) {
        if (!job.strName.isEmpty() && facts.strName == job.strName) {
            chosen.strName = facts.strName;
            break;
        }
    }
    if (chosen.strName.isEmpty()) {
        if (!job.strName.isEmpty() && !job.bNameUnchecked)
            WRITE_LOG(g_printerLog, QStringLiteral("打印机未找到，name:%1, 将使用默认打印机").arg(job.strName));
        chosen.strName = listing.strDefaultName;
    }
    chosen.bSystemDefault = !chosen.strName.isEmpty() && chosen.strName == listing.strDefaultName;
    return chosen;
}

void CPrinterManager::applyGeometry(QPrinter &printer)
{
    PrintJob record;
    if (!printerConfig(printer.printerName(), record))
        return;
    // Pinned to points, so a stored "PrinterLeft" means the same distance with every print engine.
    QPageLayout layout = printer.pageLayout();
    layout.setUnits(QPageLayout::Point);
    QMarginsF margins = layout.margins();
    margins.setLeft(kBaseLeftMargin + record.nLeft);
    layout.setMargins(margins);
    printer.setPageLayout(layout);

    QSizeF sizePaper = printer.pageLayout().pageSize().size(QPageSize::Millimeter);
    if (record.nWidth != 0)
        sizePaper.setWidth(record.nWidth);
    if (record.nHeight != 0)
        sizePaper.setHeight(record.nHeight);
    printer.setPageSize(QPageSize(sizePaper, QPageSize::Millimeter));
}

void CPrinterManager::printReceipt(PrintJob &job)
{
    strHtml = job.strContent;
    const ChosenPrinter chosen = choosePrinter(job);
    // Without any printer Qt would fall back to a PDF printer without a file and print nothing either.
    if (!chosen.strName.isEmpty()) {
        QPrinter printer(QPrinterInfo::printerInfo(chosen.strName), QPrinter::ScreenResolution);
        if (chosen.bSystemDefault)
            printer.setResolution(kDefaultPrinterDpi);
        applyGeometry(printer);
        printDocument(&printer);
    }
    clearHtml();
}

void CPrinterManager::printDocument(QPrinter *pPrinter)
{
    QTextDocument document;
    QFont font(QString::fromLatin1(kFontFamily), kFontPointSize, QFont::Normal, false);
    document.setDefaultFont(font);
    document.setHtml(strHtml);
    document.setPageSize(pPrinter->pageRect(QPrinter::DevicePixel).size());
    document.print(pPrinter);
}

void CPrinterManager::clearHtml()
{
    strHtml.clear();
}

void CPrinterManager::getPreviewData(QPrinter *pPrinter)
{
    printDocument(pPrinter);
}

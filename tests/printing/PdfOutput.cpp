#include "PdfOutput.h"

#include <QDir>

#include "platform/Printers.h"

QString PdfOutput::queueName() { return qEnvironmentVariable("VEXA_PDF_QUEUE", "VexaPDF"); }
QString PdfOutput::outputDir() { return qEnvironmentVariable("VEXA_PDF_DIR", "/var/spool/cups-pdf/VEXA"); }

QString PdfOutput::whyNotReady()
{
    for (const Platform::PrinterFacts &facts : Platform::installedPrinters()) {
        if (facts.strName == queueName() && facts.bDefault && QDir(outputDir()).exists())
            return QString();
    }
    return "cupsd with the default queue " + queueName() + " and its folder " + outputDir()
        + " is not available; run scripts/test-services.sh as root";
}

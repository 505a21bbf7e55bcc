#include "PdfOutput.h"
#include <QDir>
#include "platform/Printers.h"

QString PdfOutput::queueName() { return qEnvironmentVariable("VEXA_PDF_QUEUE", QStringLiteral("VexaPDF")); }
QString PdfOutput::outputDir() { return qEnvironmentVariable("VEXA_PDF_DIR", QStringLiteral("/var/spool/cups-pdf/VEXA")); }

QString PdfOutput::whyNotReady()
{
    for (const Platform::PrinterFacts &facts : Platform::installedPrinters())
        if (facts.strName == queueName() && facts.bDefault)
            return QDir(outputDir()).exists() ? QString() : "no cups-pdf output directory " + outputDir();
    return "cupsd with the default queue " + queueName() + " is not available; run scripts/test-services.sh as root";
}

#pragma once

#include <QDir>

#include "platform/Printers.h"

// The cups-pdf queue that scripts/test-services.sh sets up.
namespace PdfOutput {
inline QString queueName() { return qEnvironmentVariable("VEXA_PDF_QUEUE", "VexaPDF"); }
inline QString outputDir() { return qEnvironmentVariable("VEXA_PDF_DIR", "/var/spool/cups-pdf/VEXA"); }
// Empty when the scheduler answers and the queue is the default printer; else why not.
inline QString whyNotReady()
{
    for (const Platform::PrinterFacts &facts : Platform::installedPrinters()) {
        if (facts.strName == queueName() && facts.bDefault && QDir(outputDir()).exists())
            return QString();
    }
    return "cupsd with the default queue " + queueName() + " and its folder " + outputDir()
        + " is not available; run scripts/test-services.sh as root";
}
}

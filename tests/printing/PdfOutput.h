#pragma once

#include <QString>

// The cups-pdf queue that scripts/test-services.sh sets up.
namespace PdfOutput {
QString queueName(); // $VEXA_PDF_QUEUE or "VexaPDF"
QString outputDir(); // $VEXA_PDF_DIR or /var/spool/cups-pdf/VEXA
// Empty when the scheduler answers and the queue is the default printer; else why not.
QString whyNotReady();
}

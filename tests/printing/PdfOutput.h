#pragma once

#include <QDateTime>
#include <QSizeF>
#include <QString>
#include <QStringList>

// The cups-pdf queue that scripts/test-services.sh sets up, and what can be read from its PDFs.
namespace PdfOutput {
QString queueName(); // $VEXA_PDF_QUEUE or "VexaPDF"
QString outputDir(); // $VEXA_PDF_DIR or /var/spool/cups-pdf/VEXA
// Empty when the scheduler answers and the queue is the default printer; else why not.
QString whyNotReady();
// Standard output of a poppler tool (pdftotext, pdffonts, ...) run on the file.
QString tool(const QString &strProgram, const QString &strPdf);
// The first PDF written after dtSince whose text contains strMarker; empty on time-out.
QString waitForPdf(const QString &strMarker, const QDateTime &dtSince, int nTimeoutMs = 30000);
QSizeF pageSizePt(const QString &strPdf);
// Leftmost pixel column of page 1 with ink, rendered at nDpi; -1 when the page is blank.
int leftInkColumn(const QString &strPdf, int nDpi);
}

#pragma once

#include <QString>

// The cups-pdf queue that scripts/test-services.sh sets up.
namespace PdfOutput {
QString queueName(); // $VEXA_PDF_QUEUE or "VexaPDF"
QString outputDir(); // $VEXA_PDF_DIR or /var/spool/cups-pdf/VEXA
QString whyNotReady(); // empty when the scheduler answers and the queue is the default printer; else why not
}

// Skips a test without the queue; CI starts it, so there the test fails.
#define VEXA_REQUIRE_PDF_QUEUE()                                          \
    do {                                                                  \
        const QString strWhy = PdfOutput::whyNotReady();                  \
        QVERIFY2(strWhy.isEmpty() || !qEnvironmentVariableIsSet("CI"),   \
                 qPrintable(strWhy));                                     \
        if (!strWhy.isEmpty())                                            \
            QSKIP(qPrintable(strWhy));                                    \
    } while (false)

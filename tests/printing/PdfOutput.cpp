#include "PdfOutput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "platform/Printers.h"

namespace PdfOutput {

QString queueName()
{
    return qEnvironmentVariable("VEXA_PDF_QUEUE", QStringLiteral("VexaPDF"));
}

QString outputDir()
{
    return qEnvironmentVariable("VEXA_PDF_DIR", QStringLiteral("/var/spool/cups-pdf/VEXA"));
}

QString whyNotReady()
{
    for (const Platform::PrinterFacts &facts : Platform::installedPrinters()) {
        if (facts.strName == queueName() && facts.bDefault)
            return QDir(outputDir()).exists() ? QString() : QStringLiteral("no cups-pdf output directory %1").arg(outputDir());
    }
    return QStringLiteral("cupsd with the default queue %1 is not available; run scripts/test-services.sh as root")
        .arg(queueName());
}

QString tool(const QString &strProgram, const QString &strPdf)
{
    QProcess process;
    process.start(strProgram, strProgram == QLatin1String("pdftotext") ? QStringList{strPdf, "-"} : QStringList{strPdf});
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString waitForPdf(const QString &strMarker, const QDateTime &dtSince, int nTimeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    do {
        for (const QFileInfo &info : QDir(outputDir()).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Time)) {
            if (info.lastModified() < dtSince.addSecs(-1))
                break; // newest first
            if (tool(QStringLiteral("pdftotext"), info.filePath()).contains(strMarker))
                return info.filePath();
        }
        QTest::qWait(200); // keeps the event loop running
    } while (timer.elapsed() < nTimeoutMs);
    return QString();
}

QSizeF pageSizePt(const QString &strPdf)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts"))
                                              .match(tool(QStringLiteral("pdfinfo"), strPdf));
    return match.hasMatch() ? QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()) : QSizeF();
}

int leftInkColumn(const QString &strPdf, int nDpi)
{
    QTemporaryDir dir;
    QProcess::execute(QStringLiteral("pdftoppm"), {"-png", "-gray", "-r", QString::number(nDpi), "-f", "1", "-l", "1",
                                                   "-singlefile", strPdf, dir.filePath(QStringLiteral("page"))});
    const QImage image(dir.filePath(QStringLiteral("page.png")));
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (qGray(image.pixel(x, y)) < 128)
                return x;
        }
    }
    return -1;
}

}

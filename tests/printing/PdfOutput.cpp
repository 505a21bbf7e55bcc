#include "PdfOutput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "platform/Printers.h"

namespace {
QString run(const QString &strProgram, const QStringList &lstArgs)
{
    QProcess process;
    process.start(strProgram, lstArgs);
    if (!process.waitForFinished(20000))
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}
}

namespace PdfOutput {

QString queueName()
{
    const QString strQueue = qEnvironmentVariable("VEXA_PDF_QUEUE");
    return strQueue.isEmpty() ? QStringLiteral("VexaPDF") : strQueue;
}

QString outputDir()
{
    const QString strDir = qEnvironmentVariable("VEXA_PDF_DIR");
    return strDir.isEmpty() ? QStringLiteral("/var/spool/cups-pdf/VEXA") : strDir;
}

QString whyNotReady()
{
    const QList<Platform::PrinterFacts> lstPrinters = Platform::installedPrinters();
    for (const Platform::PrinterFacts &facts : lstPrinters) {
        if (facts.strName == queueName() && facts.bDefault)
            return QDir(outputDir()).exists() ? QString() : QStringLiteral("no cups-pdf output directory %1").arg(outputDir());
    }
    return QStringLiteral("cupsd with the default queue %1 is not available; run scripts/test-services.sh as root")
        .arg(queueName());
}

QString waitForPdf(const QString &strMarker, const QDateTime &dtSince, int nTimeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    do {
        const QFileInfoList lstFiles =
            QDir(outputDir()).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Time);
        for (const QFileInfo &info : lstFiles) {
            if (info.lastModified() < dtSince.addSecs(-1))
                break;  // sorted newest first
            if (run(QStringLiteral("pdftotext"), {info.filePath(), QStringLiteral("-")}).contains(strMarker))
                return info.filePath();
        }
        QTest::qWait(200);  // keeps the event loop (logo downloads) running
    } while (timer.elapsed() < nTimeoutMs);
    return QString();
}

QSizeF pageSizePt(const QString &strPdf)
{
    const QString strInfo = run(QStringLiteral("pdfinfo"), {strPdf});
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts")).match(strInfo);
    return match.hasMatch() ? QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()) : QSizeF();
}

QStringList fontNames(const QString &strPdf)
{
    QStringList lstNames;
    const QStringList lstLines = run(QStringLiteral("pdffonts"), {strPdf}).split(QLatin1Char('\n'));
    for (int i = 2; i < lstLines.size(); ++i) {
        const QString strName = lstLines[i].section(QLatin1Char(' '), 0, 0);
        if (!strName.isEmpty())
            lstNames.append(strName);
    }
    return lstNames;
}

int leftInkColumn(const QString &strPdf, int nDpi)
{
    QTemporaryDir dir;
    const QString strPrefix = dir.path() + QStringLiteral("/page");
    run(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-gray"), QStringLiteral("-r"),
                                     QString::number(nDpi), QStringLiteral("-f"), QStringLiteral("1"),
                                     QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"),
                                     strPdf, strPrefix});
    const QImage image(strPrefix + QStringLiteral(".png"));
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (qGray(image.pixel(x, y)) < 128)
                return x;
        }
    }
    return -1;
}

}

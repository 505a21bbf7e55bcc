// Receipt benchmark: a typical 40-line receipt with a logo.
//  1. the same document rendered onto a local PDF file (no spooler), receipts/s;
//  2. printReceipt onto the cups-pdf queue (render + hand-over to CUPS), receipts/s;
//  3. command in -> finished PDF from cups-pdf, median over sequential receipts. With --http the
//     command is an HTTP POST to the real service binary; otherwise it enters this process's
//     command dispatcher, as the HTTP server would hand it on.
#include <QDir>
#include <QElapsedTimer>
#include <QPrinter>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTextDocument>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "LogoServer.h"
#include "PdfOutput.h"
#include "common/AppTestMain.h"
#include "common/ServiceInstance.h"
#include "printing/PrinterManager.h"

namespace {
QString receiptHtml(const QString &strLogoSrc, const QString &strMarker)
{
    QString strHtml = QStringLiteral("<div align=\"center\"><img  src=\"%1\" width=\"160\"></div>").arg(strLogoSrc);
    strHtml += QStringLiteral("<p align=\"center\"><b>消费清单 %1</b></p><table width=\"100%\">").arg(strMarker);
    for (int i = 1; i <= 38; ++i)
        strHtml += QStringLiteral("<tr><td>商品 %1 啤酒/果盘</td><td>x%2</td><td align=\"right\">%3.00</td></tr>")
                       .arg(i).arg(i % 5 + 1).arg(i * 7);
    strHtml += QStringLiteral("</table><p>合计 9999.00 谢谢光临</p>");
    return strHtml;
}

void report(const char *pWhat, int nCount, qint64 llMs)
{
    std::printf("%-46s %3d receipts in %6lld ms = %6.1f receipts/s\n", pWhat, nCount,
                static_cast<long long>(llMs), llMs > 0 ? nCount * 1000.0 / llMs : 0.0);
}

QStringList pdfFiles()
{
    return QDir(PdfOutput::outputDir()).entryList({QStringLiteral("*.pdf")}, QDir::Files);
}

// Waits for a new, complete PDF; returns the milliseconds until then or -1.
qint64 waitForNewPdf(const QStringList &lstBefore, QElapsedTimer &timer, int nTimeoutMs)
{
    while (timer.elapsed() < nTimeoutMs) {
        for (const QString &strName : pdfFiles()) {
            if (lstBefore.contains(strName))
                continue;
            QProcess pdfinfo;
            pdfinfo.start(QStringLiteral("pdfinfo"), {PdfOutput::outputDir() + QLatin1Char('/') + strName});
            if (pdfinfo.waitForFinished(5000) && pdfinfo.exitCode() == 0)
                return timer.elapsed();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return -1;
}
}

int main(int argc, char *argv[])
{
    const bool bHttp = argc > 1 && QByteArray(argv[1]) == "--http";
    QTemporaryDir appDir;
    std::unique_ptr<QApplication> pApp(bHttp ? new QApplication(argc, argv)
                                             : new CMainApp(argc, argv, appDir.path()));
    if (!bHttp)
        mainApp()->start();
    const QString strWhy = PdfOutput::whyNotReady();
    if (!strWhy.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(strWhy));
        return 2;
    }
    CLogoServer server;
    server.setFile("/logo.png", makeLogoPng());
    server.listenLocal();
    const QString strLogoFile = appDir.path() + QStringLiteral("/logo.png");
    QFile fileLogo(strLogoFile);
    fileLogo.open(QIODevice::WriteOnly);
    fileLogo.write(makeLogoPng());
    fileLogo.close();

    CPrinterManager manager;
    const int nRender = 30;
    QElapsedTimer timer;
    timer.start();
    // The manager's document settings without the spooler: what rendering alone costs.
    for (int i = 0; i < nRender; ++i) {
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(appDir.path() + QStringLiteral("/render.pdf"));
        printer.setResolution(96);
        printer.setPageSize(QPageSize(QSizeF(80, 297), QPageSize::Millimeter));
        QTextDocument document;
        document.setDefaultFont(QFont(QStringLiteral("Microsoft YaHei"), 13));
        document.setHtml(receiptHtml(strLogoFile, QStringLiteral("R%1").arg(i)));
        document.setPageSize(printer.pageRect(QPrinter::DevicePixel).size());
        document.print(&printer);
    }
    report("render to a local PDF file (no spooler)", nRender, timer.elapsed());

    const int nSpool = 20;
    PrintJob record;
    record.strName = PdfOutput::queueName();
    record.nWidth = 80;
    manager.setPrinterConfig(record);
    timer.restart();
    for (int i = 0; i < nSpool; ++i) {
        PrintJob job;
        job.strContent = receiptHtml(strLogoFile, QStringLiteral("S%1").arg(i));
        manager.printReceipt(job);
    }
    report("printReceipt onto the cups-pdf queue", nSpool, timer.elapsed());

    // Let CUPS drain the burst before timing single receipts.
    QElapsedTimer timerDrain;
    timerDrain.start();
    while (timerDrain.elapsed() < 60000) {
        QProcess lpstat;
        lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-o"), PdfOutput::queueName()});
        lpstat.waitForFinished(5000);
        if (lpstat.readAllStandardOutput().trimmed().isEmpty())
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    }
    QThread::msleep(500);

    std::unique_ptr<ServiceInstance> pService;
    if (bHttp) {
        pService.reset(new ServiceInstance);
        if (!pService->start() || postCommand(R"({"Msg":"PrinterStatus"})", 2000).isEmpty()) {
            std::fprintf(stderr, "the service does not answer HTTP commands\n");
            return 3;
        }
    }
    const QByteArray baSettings = QStringLiteral(R"({"Msg":"Settings","data":[{"Name":"%1","Width":80}]})")
                                      .arg(PdfOutput::queueName()).toUtf8();
    bHttp ? postCommand(baSettings) : dispatchAndWait(baSettings).toUtf8();

    QVector<qint64> vecLatency;
    const int nLatency = 10;
    for (int i = 0; i < nLatency; ++i) {
        const QStringList lstBefore = pdfFiles();
        const QJsonObject objCommand{{QStringLiteral("data"), receiptHtml(server.baseUrl() + QStringLiteral("/logo.png"),
                                                                          QStringLiteral("L%1").arg(i))},
                                     {QStringLiteral("Name"), PdfOutput::queueName()}};
        const QByteArray baCommand = QJsonDocument(objCommand).toJson(QJsonDocument::Compact);
        QElapsedTimer timerOne;
        timerOne.start();
        if (bHttp)
            postCommand(baCommand);
        else
            dispatchAndWait(baCommand);
        const qint64 llMs = waitForNewPdf(lstBefore, timerOne, 30000);
        if (llMs < 0) {
            std::fprintf(stderr, "receipt %d: no PDF within 30 s\n", i);
            return 4;
        }
        vecLatency.append(llMs);
        QThread::msleep(300);
    }
    std::sort(vecLatency.begin(), vecLatency.end());
    QStringList lstAll;
    for (qint64 llMs : vecLatency)
        lstAll << QString::number(llMs);
    std::printf("latencies (ms, sorted): %s\n", qPrintable(lstAll.join(QLatin1Char(' '))));
    std::printf("%-46s median %lld ms (min %lld, max %lld, %d receipts, %s)\n", "command in -> finished PDF on cups-pdf",
                static_cast<long long>(vecLatency[nLatency / 2]), static_cast<long long>(vecLatency.first()),
                static_cast<long long>(vecLatency.last()), nLatency, bHttp ? "HTTP POST" : "in-process dispatch");

    // The queue's own floor: the last receipt's PDF printed again with lp, through the same filters.
    QStringList lstPdfs = pdfFiles();
    std::sort(lstPdfs.begin(), lstPdfs.end(), [](const QString &a, const QString &b) {
        return QFileInfo(PdfOutput::outputDir() + '/' + a).lastModified() < QFileInfo(PdfOutput::outputDir() + '/' + b).lastModified();
    });
    QVector<qint64> vecFloor;
    for (int i = 0; i < 5 && !lstPdfs.isEmpty(); ++i) {
        const QStringList lstBefore = pdfFiles();
        QElapsedTimer timerOne;
        timerOne.start();
        QProcess::execute(QStringLiteral("lp"), {QStringLiteral("-d"), PdfOutput::queueName(), PdfOutput::outputDir() + '/' + lstPdfs.last()});
        vecFloor.append(waitForNewPdf(lstBefore, timerOne, 30000));
        QThread::msleep(300);
    }
    std::sort(vecFloor.begin(), vecFloor.end());
    if (!vecFloor.isEmpty())
        std::printf("%-46s median %lld ms (%d jobs)\n", "lp of that PDF -> finished PDF (the queue alone)",
                    static_cast<long long>(vecFloor[vecFloor.size() / 2]), vecFloor.size());
    return 0;
}

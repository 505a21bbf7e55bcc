// Receipts printed for real: commands by HTTP to the service binary, PDFs out of the test-services.sh queue.
#include <QtTest>

#include "PdfOutput.h"
#include "common/ServiceInstance.h"
#include "common/TestFiles.h"

namespace {
QString run(const QString &strProgram, const QStringList &lstArgs)
{
    QProcess process;
    process.start(strProgram, lstArgs);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The test queue's record takes what the entry before it leaves out: entries walk on with their values.
QByteArray settings(int nLeft, int nWidth)
{
    return QString(R"({"Msg":"Settings","data":[{"Name":"Elsewhere","PrinterLeft":%2,"Width":%3},{"Name":"%1"}]})")
        .arg(PdfOutput::queueName()).arg(nLeft).arg(nWidth).toUtf8();
}

// Page 1 at 72 dpi (a pixel is a point): its width in mm and its leftmost column with ink (-1: blank).
QPoint geometry(const QString &strPdf)
{
    QTemporaryDir dir;
    QProcess::execute("pdftoppm", {"-png", "-gray", "-r", "72", "-singlefile", strPdf, dir.filePath("page")});
    const QImage image(dir.filePath("page.png"));
    int nInk = -1;
    for (int x = image.width() - 1; x >= 0; --x) {
        for (int y = 0; y < image.height(); ++y) {
            if (qGray(image.pixel(x, y)) < 128)
                nInk = x;
        }
    }
    return {qRound(image.width() * 25.4 / 72), nInk};
}
}

class TestPrintEndToEnd : public QObject
{
    Q_OBJECT

    const QDateTime dtStart = QDateTime::currentDateTime().addSecs(-1);
    ServiceInstance service;

    // Prints a receipt on the named printer; the path of the PDF that came out, or why none did.
    QString print(const QString &strPrinter, const QByteArray &baReply = "{\"code\":200}")
    {
        const QString strMarker = "VEXA" + QString::number(QDateTime::currentMSecsSinceEpoch());
        const QString strHtml = "<p>" + strMarker + "</p><p>包厢 A08 消费清单</p><p>啤酒 x6 合计 180.00</p>";
        const QByteArray baGot = postCommand(QString(R"({"Name":"%1","data":"%2"})").arg(strPrinter, strHtml).toUtf8());
        if (baGot != baReply)
            return "reply " + baGot;
        for (int nTry = 0; nTry < 150; ++nTry) {
            const QDir dir(PdfOutput::outputDir());
            for (const QFileInfo &info : dir.entryInfoList({"*.pdf"}, QDir::Files, QDir::Time)) {
                if (info.lastModified() >= dtStart && run("pdftotext", {info.filePath(), "-"}).contains(strMarker))
                    return info.filePath();
            }
            QTest::qWait(200);
        }
        return "no PDF";
    }

private slots:
    void initTestCase() { VEXA_REQUIRE_PDF_QUEUE(); }

    // 80 mm paper with the Chinese text in the mapped CJK font; 40 more points of "PrinterLeft" move the ink
    // 40 points right. An unknown printer answers 1 and prints on the default. A restart applies
    // "./PrinterConfig.json" before the first command arrives.
    void geometryFontFallbackAndRestart()
    {
        QVERIFY(service.start());
        QCOMPARE(postCommand(settings(0, 80)), QByteArray("{\"code\":200}"));
        const QString strNear = print(PdfOutput::queueName());
        const QString strFonts = run("pdffonts", {strNear});
        QVERIFY2(strFonts.contains("WenQuanYi") && !strFonts.contains("DejaVu"), qPrintable(strNear + '\n' + strFonts));
        QCOMPARE(postCommand(settings(40, 80)), QByteArray("{\"code\":200}"));
        const QString strFar = print("NoSuchPrinter", "{\"code\":1}");
        const QPoint near = geometry(strNear);
        const QPoint far = geometry(strFar);
        QCOMPARE(near.x(), 80);
        QCOMPARE(far.x(), 80);
        QVERIFY(near.y() >= 0);
        QVERIFY2(qAbs(far.y() - near.y() - 40) <= 3, qPrintable(QString::number(far.y() - near.y())));
        service.kill();
        QVERIFY(writeFile(service.dir() + "/PrinterConfig.json", settings(0, 58)));
        QVERIFY(service.start());
        QCOMPARE(geometry(print(PdfOutput::queueName())).x(), 58);
    }
};

QTEST_MAIN(TestPrintEndToEnd)
#include "tst_printe2e.moc"

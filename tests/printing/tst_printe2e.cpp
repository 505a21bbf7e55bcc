// Receipts printed for real: commands by HTTP to the service binary, PDFs out of the test-services.sh queue.
#include <QtTest>
#include "PdfOutput.h"
#include "common/ServiceInstance.h"

namespace {
const QByteArray kOk = "{\"code\":200}";

QString run(const QString &strProgram, const QStringList &lstArgs)
{
    QProcess process;
    process.start(strProgram, lstArgs);
    return process.waitForFinished(20000) ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

// The test queue's record comes from the entry before it: entries walk on with the values they leave out.
QByteArray settings(int nLeft, int nWidth)
{
    return QStringLiteral(R"({"Msg":"Settings","data":[{"Name":"Elsewhere","PrinterLeft":%2,"Width":%3},{"Name":"%1"}]})")
        .arg(PdfOutput::queueName()).arg(nLeft).arg(nWidth).toUtf8();
}

// Page 1 at 72 dpi (a pixel is a point): its width in mm and its leftmost column with ink (-1: blank).
QPoint geometry(const QString &strPdf)
{
    QTemporaryDir dir;
    QProcess::execute("pdftoppm", {"-png", "-gray", "-r", "72", "-singlefile", strPdf, dir.filePath("page")});
    const QImage image(dir.filePath("page.png"));
    int nInk = image.width();
    for (int i = 0; i < image.width() * image.height(); ++i)
        nInk = qGray(image.pixel(i % image.width(), i / image.width())) < 128 ? qMin(nInk, i % image.width()) : nInk;
    return {qRound(image.width() * 25.4 / 72), nInk < image.width() ? nInk : -1};
}
}

class TestPrintEndToEnd : public QObject
{
    Q_OBJECT
    const QDateTime dtStart = QDateTime::currentDateTime().addSecs(-1);
    ServiceInstance service;

    // Prints a receipt on the named printer; the path of the PDF that came out, or why none did.
    QString print(const QString &strPrinter, const QByteArray &baReply = kOk)
    {
        const QString strMarker = "VEXA" + QString::number(QDateTime::currentMSecsSinceEpoch());
        const QByteArray baGot = postCommand(QStringLiteral(R"({"Name":"%1","data":"<p>%2</p><p>包厢 A08 消费清单</p><p>啤酒 x6 合计 180.00</p>"})")
                                                 .arg(strPrinter, strMarker).toUtf8());
        for (int nTry = 0; nTry < 150 && baGot == baReply; ++nTry, QTest::qWait(200))
            for (const QFileInfo &info : QDir(PdfOutput::outputDir()).entryInfoList({"*.pdf"}, QDir::Files, QDir::Time))
                if (info.lastModified() >= dtStart && run("pdftotext", {info.filePath(), "-"}).contains(strMarker))
                    return info.filePath();
        return baGot == baReply ? "no PDF" : "reply " + baGot;
    }

private slots:
    void initTestCase() { VEXA_REQUIRE_PDF_QUEUE(); }

    // 80 mm paper with the Chinese text in the mapped CJK font; 40 more points of "PrinterLeft" move the ink
    // 40 points right. An unknown printer answers 1 and prints on the default. A restart applies
    // "./PrinterConfig.json" before the first command arrives.
    void geometryFontFallbackAndRestart()
    {
        QVERIFY(service.start());
        QCOMPARE(postCommand(settings(0, 80)), kOk);
        const QString strNear = print(PdfOutput::queueName()), strFonts = run("pdffonts", {strNear});
        QVERIFY2(strFonts.contains("WenQuanYi") && !strFonts.contains("DejaVu"), qPrintable(strNear + '\n' + strFonts));
        QCOMPARE(postCommand(settings(40, 80)), kOk);
        const QString strFar = print("NoSuchPrinter", "{\"code\":1}");
        const QPoint near = geometry(strNear), far = geometry(strFar);
        QVERIFY2(near.x() == 80 && far.x() == 80 && near.y() >= 0 && qAbs(far.y() - near.y() - 40) <= 3,
                 qPrintable(QStringLiteral("%1 mm, ink at %2; %3: %4 mm, ink at %5").arg(near.x()).arg(near.y()).arg(strFar).arg(far.x()).arg(far.y())));
        service.kill();
        QFile file(service.dir() + "/PrinterConfig.json");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(settings(0, 58)) > 0 && file.flush());
        QVERIFY(service.start());
        const QString strPdf = print(PdfOutput::queueName());
        QVERIFY2(geometry(strPdf).x() == 58, qPrintable(strPdf));
    }
};

QTEST_MAIN(TestPrintEndToEnd)
#include "tst_printe2e.moc"

// Receipts printed for real: commands by HTTP to the service binary, PDFs out of the test-services.sh queue.
#include <QtTest>

#include "PdfOutput.h"
#include "common/ServiceInstance.h"

#define QVERIFY_PDF(strPdf, nMm) \
    QVERIFY2(strPdf.startsWith('/') && qAbs(widthMm(strPdf) - (nMm)) < 0.5, qPrintable(strPdf + ' ' + QString::number(widthMm(strPdf))))

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

double widthMm(const QString &strPdf)
{
    return QRegularExpression("Page size:\\s+([0-9.]+) x").match(run("pdfinfo", {strPdf})).captured(1).toDouble() * 25.4 / 72;
}

// Leftmost pixel column of page 1 with ink at 72 dpi (a pixel is a point); -1 when blank.
int leftInk(const QString &strPdf)
{
    QTemporaryDir dir;
    QProcess::execute("pdftoppm", {"-png", "-gray", "-r", "72", "-singlefile", strPdf, dir.filePath("page")});
    const QImage image(dir.filePath("page.png"));
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128)
                return x;
    return -1;
}
}

class TestPrintEndToEnd : public QObject
{
    Q_OBJECT

    QDateTime dtStart = QDateTime::currentDateTime().addSecs(-1);
    ServiceInstance service;

    // Prints a receipt on the named printer; the path of the PDF that came out, or why none did.
    QString print(const QString &strPrinter, const QByteArray &baReply = kOk)
    {
        const QString strMarker = "VEXA" + QString::number(QDateTime::currentMSecsSinceEpoch());
        const QByteArray baGot = postCommand(QStringLiteral(R"({"Name":"%1","data":"<p>%2</p><p>包厢 A08 消费清单</p><p>啤酒 x6 合计 180.00</p>"})")
                                                 .arg(strPrinter, strMarker).toUtf8());
        if (baGot != baReply)
            return "reply " + baGot;
        for (int nTry = 0; nTry < 150; ++nTry, QTest::qWait(200)) {
            for (const QFileInfo &info : QDir(PdfOutput::outputDir()).entryInfoList({"*.pdf"}, QDir::Files, QDir::Time)) {
                if (info.lastModified() < dtStart)
                    break; // newest first
                if (run("pdftotext", {info.filePath(), "-"}).contains(strMarker))
                    return info.filePath();
            }
        }
        return "no PDF";
    }

private slots:
    void initTestCase()
    {
        const QString strWhy = PdfOutput::whyNotReady();  // CI starts the queues; a developer's machine may not
        QVERIFY2(strWhy.isEmpty() || !qEnvironmentVariableIsSet("CI"), qPrintable(strWhy));
        if (!strWhy.isEmpty())
            QSKIP(qPrintable(strWhy));
        QVERIFY(service.start());
    }

    // 80 mm paper with the Chinese text in the mapped CJK font; 40 more points of "PrinterLeft"
    // move the ink 40 points right. An unknown printer answers 1 and prints on the default.
    void geometryFontAndFallback()
    {
        QCOMPARE(postCommand(settings(0, 80)), kOk);
        const QString strNear = print(PdfOutput::queueName());
        QVERIFY_PDF(strNear, 80);
        const QString strFonts = run("pdffonts", {strNear});
        QVERIFY2(strFonts.contains("WenQuanYi") && !strFonts.contains("DejaVu"), qPrintable(strFonts));

        QCOMPARE(postCommand(settings(40, 80)), kOk);
        const QString strFar = print("NoSuchPrinter", "{\"code\":1}");
        QVERIFY_PDF(strFar, 80);
        QVERIFY2(qAbs(leftInk(strFar) - leftInk(strNear) - 40) <= 3 && leftInk(strNear) >= 0,
                 qPrintable(QStringLiteral("ink at %1, then %2").arg(leftInk(strNear)).arg(leftInk(strFar))));
    }

    // A restart applies "./PrinterConfig.json" before the first command arrives.
    void storedGeometryAppliesAfterRestart()
    {
        service.kill();
        QFile file(service.dir() + "/PrinterConfig.json");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(settings(0, 58)) > 0 && file.flush());
        QVERIFY(service.start());
        const QString strPdf = print(PdfOutput::queueName());
        QVERIFY_PDF(strPdf, 58);
    }
};

QTEST_MAIN(TestPrintEndToEnd)
#include "tst_printe2e.moc"

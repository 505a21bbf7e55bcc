// Receipts printed for real: commands by HTTP to the service binary, PDFs out of the cups-pdf queue
// (scripts/test-services.sh): the geometry of "Settings" and, after a restart, of
// "./PrinterConfig.json", the embedded CJK font, and the default printer standing in for an unknown one.
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <QtTest>

#include "PdfOutput.h"
#include "common/ServiceInstance.h"

namespace {
const QString kOk = QStringLiteral("{\"code\":200}");
const double kPtPerMm = 72 / 25.4;

// The test queue's record comes from the entry before it: entries walk on with the values they leave out.
QByteArray settings(int nLeft, int nWidth)
{
    return QStringLiteral(R"({"Msg":"Settings","data":[{"Name":"Elsewhere","PrinterLeft":%2,"Width":%3},{"Name":"%1"}]})")
        .arg(PdfOutput::queueName()).arg(nLeft).arg(nWidth).toUtf8();
}
}

class TestPrintEndToEnd : public QObject
{
    Q_OBJECT

    QDateTime dtStart;
    ServiceInstance service;

    // Prints a receipt on the named printer; the path of the PDF that came out, or why none did.
    QString print(const QString &strPrinter, const QString &strReply = kOk)
    {
        const QString strMarker = QStringLiteral("VEXA%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12).toUpper());
        const QJsonObject objCommand{{"Name", strPrinter},
                                     {"data", QStringLiteral("<p>%1</p><p>包厢 A08 消费清单</p><p>啤酒 x6 合计 180.00</p>").arg(strMarker)}};
        const QString strGot = QString::fromUtf8(postCommand(QJsonDocument(objCommand).toJson(QJsonDocument::Compact)));
        if (strGot != strReply)
            return QStringLiteral("reply ") + strGot;
        const QString strPdf = PdfOutput::waitForPdf(strMarker, dtStart);
        return strPdf.isEmpty() ? QStringLiteral("no PDF") : strPdf;
    }

private slots:
    void initTestCase()
    {
        const QString strWhy = PdfOutput::whyNotReady();
        // A developer machine may lack the print queues; CI starts them, so there it is a failure.
        if (!strWhy.isEmpty() && qEnvironmentVariableIsSet("CI"))
            QFAIL(qPrintable(strWhy));
        if (!strWhy.isEmpty())
            QSKIP(qPrintable(strWhy));
        dtStart = QDateTime::currentDateTime();
        QVERIFY(service.start());
    }

    // 80 mm paper with the Chinese text in the mapped CJK font; 40 more points of "PrinterLeft"
    // move the ink 40 points right (at 72 dpi one pixel is one point).
    void geometryFromSettings()
    {
        QCOMPARE(postCommand(settings(0, 80)), kOk.toUtf8());
        const QString strNear = print(PdfOutput::queueName());
        QVERIFY2(strNear.startsWith(QLatin1Char('/')), qPrintable(strNear));
        QVERIFY2(qAbs(PdfOutput::pageSizePt(strNear).width() - 80 * kPtPerMm) < 1.5,
                 qPrintable(QString::number(PdfOutput::pageSizePt(strNear).width())));
        const QString strFonts = PdfOutput::tool(QStringLiteral("pdffonts"), strNear);
        QVERIFY2(strFonts.contains(QStringLiteral("WenQuanYi")) && !strFonts.contains(QStringLiteral("DejaVu")), qPrintable(strFonts));

        QCOMPARE(postCommand(settings(40, 80)), kOk.toUtf8());
        const QString strFar = print(PdfOutput::queueName());
        QVERIFY2(strFar.startsWith(QLatin1Char('/')), qPrintable(strFar));
        const int nNear = PdfOutput::leftInkColumn(strNear, 72), nFar = PdfOutput::leftInkColumn(strFar, 72);
        QVERIFY2(nNear >= 0 && qAbs(nFar - nNear - 40) <= 3, qPrintable(QStringLiteral("ink at %1, then %2").arg(nNear).arg(nFar)));
    }

    void unknownPrinterAnswers1AndPrintsOnTheDefault()
    {
        const QString strPdf = print(QStringLiteral("NoSuchPrinter"), QStringLiteral("{\"code\":1}"));
        QVERIFY2(strPdf.startsWith(QLatin1Char('/')), qPrintable(strPdf));
    }

    // A restart applies "./PrinterConfig.json" before the first command arrives.
    void storedGeometryAppliesAfterRestart()
    {
        service.kill();
        QFile file(service.dir() + QStringLiteral("/PrinterConfig.json"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(settings(0, 58));
        file.close();
        QVERIFY(service.start());
        const QString strPdf = print(PdfOutput::queueName());
        QVERIFY2(strPdf.startsWith(QLatin1Char('/')), qPrintable(strPdf));
        QVERIFY2(qAbs(PdfOutput::pageSizePt(strPdf).width() - 58 * kPtPerMm) < 1.5,
                 qPrintable(QString::number(PdfOutput::pageSizePt(strPdf).width())));
    }
};

QTEST_MAIN(TestPrintEndToEnd)
#include "tst_printe2e.moc"

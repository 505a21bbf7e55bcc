// Printer geometry: the entry walk, "Settings", "./PrinterConfig.json" at start-up, and how a
// stored record changes a printer's margin and paper.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPageLayout>
#include <QPrinter>

#include "common/AppTestMain.h"
#include "printing/PrinterManager.h"
#include "printing/PrinterQueue.h"

namespace {
CMainApp *mainApp()
{
    return static_cast<CMainApp *>(QCoreApplication::instance());
}

// "name:left/width/height", or "-" when the printer has no record.
QString recordOf(const QString &strName)
{
    PrintJob record;
    if (!mainApp()->printerQueue()->printerManager()->printerConfig(strName, record))
        return QStringLiteral("-");
    return QStringLiteral("%1:%2/%3/%4").arg(record.strName).arg(record.nLeft).arg(record.nWidth).arg(record.nHeight);
}

QJsonArray parseArray(const QByteArray &baJson)
{
    return QJsonDocument::fromJson(baJson).array();
}
}

class TestPrintGeometry : public QObject
{
    Q_OBJECT

private slots:
    void entryWalkCarriesValuesOver_data()
    {
        QTest::addColumn<QByteArray>("baEntries");
        QTest::addColumn<QStringList>("lstNames");
        QTest::addColumn<QStringList>("lstExpected");
        QTest::newRow("width carries to the next printer")
            << QByteArray(R"([{"Name":"A1","PrinterLeft":5,"Width":80},{"Name":"B1"}])")
            << QStringList{"A1", "B1"} << QStringList{"A1:5/80/0", "B1:5/80/0"};
        QTest::newRow("name that is a number keeps the previous name")
            << QByteArray(R"([{"Name":"A2","Width":58},{"Name":7,"Width":80}])")
            << QStringList{"A2"} << QStringList{"A2:0/80/0"};
        QTest::newRow("first name a number is stored under the empty name")
            << QByteArray(R"([{"Name":3,"Height":120}])") << QStringList{""} << QStringList{":0/0/120"};
        QTest::newRow("null height is present and reads as 0")
            << QByteArray(R"([{"Name":"A3","Height":100},{"Name":"B3","Height":null}])")
            << QStringList{"A3", "B3"} << QStringList{"A3:0/0/100", "B3:0/0/0"};
        QTest::newRow("non-object element counts as empty entry")
            << QByteArray(R"([{"Name":"A4","Width":70},5])") << QStringList{"A4"} << QStringList{"A4:0/70/0"};
    }
    void entryWalkCarriesValuesOver()
    {
        QFETCH(QByteArray, baEntries);
        QFETCH(QStringList, lstNames);
        QFETCH(QStringList, lstExpected);
        mainApp()->applyPrinterEntries(parseArray(baEntries));
        for (int i = 0; i < lstNames.size(); ++i)
            QCOMPARE(recordOf(lstNames[i]), lstExpected[i]);
    }

    void settingsReplacesRecordsInFullAndKeepsOthers()
    {
        const QByteArray baFirst = R"({"Msg":"Settings","data":[{"Name":"R1","PrinterLeft":5,"Width":80,"Height":200},{"Name":"R2","Width":58}]})";
        QCOMPARE(mainApp()->dispatchCommand(baFirst), QStringLiteral("{\"code\":200}"));
        QCOMPARE(recordOf("R1"), QStringLiteral("R1:5/80/200"));
        QCOMPARE(recordOf("R2"), QStringLiteral("R2:5/58/200"));

        const QByteArray baSecond = R"({"Msg":"Settings","data":[{"Name":"R1","PrinterLeft":0}],"extra":true})";
        QCOMPARE(mainApp()->dispatchCommand(baSecond), QStringLiteral("{\"code\":200}"));
        QCOMPARE(recordOf("R1"), QStringLiteral("R1:0/0/0"));
        QCOMPARE(recordOf("R2"), QStringLiteral("R2:5/58/200"));  // omitted: kept until the next start

        // The file holds the last request as sent, and the next start loads only that.
        const QJsonObject objStored = mainApp()->readJsonFile(QStringLiteral("./PrinterConfig.json"));
        QCOMPARE(objStored, QJsonDocument::fromJson(baSecond).object());
    }

    void startUpLoadsTheStoredFile()
    {
        QFile file(mainApp()->appDir() + QStringLiteral("/PrinterConfig.json"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(R"({"Msg":"Settings","data":[{"Name":"S1","PrinterLeft":3,"Width":80},{"Name":"S2","Height":150}]})");
        file.close();
        mainApp()->loadPrinterConfig();
        QCOMPARE(recordOf("S1"), QStringLiteral("S1:3/80/0"));
        QCOMPARE(recordOf("S2"), QStringLiteral("S2:3/80/150"));
    }

    void startUpIgnoresFilesWithoutDataArray_data()
    {
        QTest::addColumn<QByteArray>("baContent");
        QTest::newRow("data is an object") << QByteArray(R"({"data":{"Name":"T1","Width":80}})");
        QTest::newRow("malformed") << QByteArray(R"({"data":[{"Name":"T1","Width":80})");
        QTest::newRow("top-level array") << QByteArray(R"([{"Name":"T1","Width":80}])");
    }
    void startUpIgnoresFilesWithoutDataArray()
    {
        QFETCH(QByteArray, baContent);
        QFile file(mainApp()->appDir() + QStringLiteral("/PrinterConfig.json"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(baContent);
        file.close();
        mainApp()->loadPrinterConfig();
        QCOMPARE(recordOf("T1"), QStringLiteral("-"));
    }

    // Margins in points: 15 plus "PrinterLeft"; width/height in millimetres, 0 keeps the paper's own.
    void recordSetsMarginAndPaper_data()
    {
        QTest::addColumn<int>("nLeft");
        QTest::addColumn<int>("nWidth");
        QTest::addColumn<int>("nHeight");
        QTest::addColumn<qreal>("rExpectedLeftPt");
        QTest::addColumn<QSizeF>("sizeExpectedMm");
        QTest::newRow("left 0") << 0 << 0 << 0 << 15.0 << QSizeF(210, 297);
        QTest::newRow("left 5") << 5 << 0 << 0 << 20.0 << QSizeF(210, 297);
        QTest::newRow("width 80 keeps height") << 0 << 80 << 0 << 15.0 << QSizeF(80, 297);
        QTest::newRow("width and height") << 2 << 58 << 100 << 17.0 << QSizeF(58, 100);
    }
    void recordSetsMarginAndPaper()
    {
        QFETCH(int, nLeft);
        QFETCH(int, nWidth);
        QFETCH(int, nHeight);
        QFETCH(qreal, rExpectedLeftPt);
        QFETCH(QSizeF, sizeExpectedMm);
        CPrinterManager manager;
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::A4));
        PrintJob record;
        record.strName = printer.printerName();
        record.nLeft = nLeft;
        record.nWidth = nWidth;
        record.nHeight = nHeight;
        manager.setPrinterConfig(record);
        const QMarginsF marginsBefore = printer.pageLayout().margins(QPageLayout::Point);

        manager.applyGeometry(printer);
        const QPageLayout layout = printer.pageLayout();
        QCOMPARE(layout.margins(QPageLayout::Point).left(), rExpectedLeftPt);
        QCOMPARE(layout.margins(QPageLayout::Point).top(), marginsBefore.top());
        QCOMPARE(layout.margins(QPageLayout::Point).right(), marginsBefore.right());
        QCOMPARE(layout.pageSize().size(QPageSize::Millimeter), sizeExpectedMm);
    }

    void printerWithoutRecordKeepsItsOwnSettings()
    {
        CPrinterManager manager;
        PrintJob record;
        record.strName = QStringLiteral("SomeOtherPrinter");
        record.nLeft = 30;
        record.nWidth = 80;
        manager.setPrinterConfig(record);
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        const QPageLayout layoutBefore = printer.pageLayout();
        manager.applyGeometry(printer);
        QVERIFY(printer.pageLayout().isEquivalentTo(layoutBefore));
    }

    void storingAgainReplacesAllFourValues()
    {
        CPrinterManager manager;
        PrintJob record;
        record.strName = QStringLiteral("P");
        record.nLeft = 4;
        record.nWidth = 80;
        record.nHeight = 90;
        manager.setPrinterConfig(record);
        PrintJob recordNew;
        recordNew.strName = QStringLiteral("P");
        manager.setPrinterConfig(recordNew);
        PrintJob stored;
        QVERIFY(manager.printerConfig(QStringLiteral("P"), stored));
        QCOMPARE(stored.nLeft + stored.nWidth + stored.nHeight, 0);
        QVERIFY(!manager.printerConfig(QStringLiteral("p"), stored));  // names are case-sensitive
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrintGeometry)
#include "tst_printgeometry.moc"

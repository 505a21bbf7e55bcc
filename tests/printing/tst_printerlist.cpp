// "PrinterStatus" against the local CUPS, and the rule for the user's own default printer.
#include "PdfOutput.h"
#include "common/AppTestMain.h"
#include "commands/PrinterList.h"

class TestPrinterList : public QObject
{
    Q_OBJECT
private slots:
    // No scheduler (looked up for every query): no printers. Of test-services.sh's, offline USB ones are left out.
    void printerStatus()
    {
        qputenv("CUPS_SERVER", "/nonexistent/vexa-cups.sock");
        QCOMPARE(dispatchAndWait(R"({"Msg":"PrinterStatus"})"), QStringLiteral("{\"code\":200, \"data\":[\n]\n}"));
        qunsetenv("CUPS_SERVER");
        VEXA_REQUIRE_PDF_QUEUE();
        const auto fnEntry = [](const QString &strName, int nDefault) { // indented, members in key order
            return QStringLiteral("        \"default\": %1,\n        \"name\": \"%2\",\n        \"state\": \"Online\"\n").arg(nDefault).arg(strName); };
        const QString strReply = dispatchAndWait(R"({"Msg":"PrinterStatus"})");
        QVERIFY2(strReply.startsWith("{\"code\":200, \"data\":[\n") && strReply.endsWith("]\n}") && strReply.contains(fnEntry(PdfOutput::queueName(), 1))
                     && strReply.contains(fnEntry("VexaNetOff", 0)) && !strReply.contains("VexaUsbOff"), qPrintable(strReply));
    }

    // The user's own default wins over the scheduler's, found the way libcups finds it.
    void userDefault_data()
    {
        QTest::addColumn<QByteArrayList>("lstCase"); // LPDEST, PRINTER, the system's lpoptions, the user's; the default
        QTest::newRow("none: the scheduler's") << QByteArrayList{"", "", "", "", ""};
        QTest::newRow("LPDEST first") << QByteArrayList{"A", "B", "Default C\n", "", "A"};
        QTest::newRow("PRINTER") << QByteArrayList{"", "B", "Default C\n", "", "B"};
        QTest::newRow("PRINTER lp ignored") << QByteArrayList{"", "lp", "", "", ""};
        QTest::newRow("user file last") << QByteArrayList{"", "", "Default C\n", "Dest D x=1\ndefault E/big sides=one\n", "E/big"};
        QTest::newRow("only Dest lines") << QByteArrayList{"", "", "", "Dest D\n", ""};
    }
    void userDefault()
    {
        QFETCH(QByteArrayList, lstCase);
        QCOMPARE(Platform::userDefaultDestination(lstCase[0], lstCase[1], lstCase.mid(2, 2)), QString(lstCase[4]));
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrinterList)
#include "tst_printerlist.moc"

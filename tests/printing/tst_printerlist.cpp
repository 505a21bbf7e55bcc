// "PrinterStatus" against the local CUPS, and the rule for the user's own default printer.
#include "PdfOutput.h"
#include "common/AppTestMain.h"
#include "commands/PrinterList.h"

class TestPrinterList : public QObject
{
    Q_OBJECT
private slots:
    // The queues of scripts/test-services.sh: offline USB printers are left out, the rest are "Online".
    void printerStatusFromCups()
    {
        const QString strWhy = PdfOutput::whyNotReady();
        // A developer machine may lack the print queues; CI starts them, so there it is a failure.
        if (!strWhy.isEmpty() && !qEnvironmentVariableIsSet("CI"))
            QSKIP(qPrintable(strWhy));
        QVERIFY2(strWhy.isEmpty(), qPrintable(strWhy));
        const auto fnEntry = [](const QString &strName, int nDefault) {  // indented, members in key order
            return QStringLiteral("        \"default\": %1,\n        \"name\": \"%2\",\n        \"state\": \"Online\"\n")
                .arg(nDefault).arg(strName);
        };
        const QString strReply = dispatchAndWait(R"({"Msg":"PrinterStatus"})");
        QVERIFY2(strReply.startsWith(QStringLiteral("{\"code\":200, \"data\":[\n")) && strReply.endsWith(QStringLiteral("]\n}"))
                     && strReply.contains(fnEntry(PdfOutput::queueName(), 1)) && strReply.contains(fnEntry("VexaNetOff", 0))
                     && !strReply.contains(QStringLiteral("VexaUsbOff")),
                 qPrintable(strReply));
    }

    void printerStatusWithoutScheduler()
    {
        // The lister looks the scheduler up afresh for every query, on its own thread.
        qputenv("CUPS_SERVER", "/nonexistent/vexa-cups.sock");
        const QString strReply = dispatchAndWait(R"({"Msg":"PrinterStatus"})");
        qunsetenv("CUPS_SERVER");
        QCOMPARE(strReply, QStringLiteral("{\"code\":200, \"data\":[\n]\n}"));
    }

    // The user's own default wins over the scheduler's, found the way libcups finds it.
    void userDefault_data()
    {
        QTest::addColumn<QByteArray>("baLpDest");
        QTest::addColumn<QByteArray>("baPrinter");
        QTest::addColumn<QByteArrayList>("lstLpOptions");  // the system file, then the user's
        QTest::addColumn<QString>("strDefault");
        QTest::newRow("none: the scheduler's") << QByteArray() << QByteArray() << QByteArrayList() << "";
        QTest::newRow("LPDEST first") << QByteArray("A") << QByteArray("B") << QByteArrayList{"Default C\n"} << "A";
        QTest::newRow("PRINTER") << QByteArray() << QByteArray("B") << QByteArrayList{"Default C\n"} << "B";
        QTest::newRow("PRINTER lp ignored") << QByteArray() << QByteArray("lp") << QByteArrayList() << "";
        QTest::newRow("user file last") << QByteArray() << QByteArray()
                                        << QByteArrayList{"Default C\n", "Dest D x=1\ndefault E/big sides=one\n"} << "E/big";
        QTest::newRow("only Dest lines") << QByteArray() << QByteArray() << QByteArrayList{"", "Dest D\n"} << "";
    }
    void userDefault()
    {
        QFETCH(QByteArray, baLpDest);
        QFETCH(QByteArray, baPrinter);
        QFETCH(QByteArrayList, lstLpOptions);
        QFETCH(QString, strDefault);
        QCOMPARE(Platform::userDefaultDestination(baLpDest, baPrinter, lstLpOptions), strDefault);
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrinterList)
#include "tst_printerlist.moc"

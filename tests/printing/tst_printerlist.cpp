// "PrinterStatus" without a scheduler, and the rule for the user's own default printer. The list itself,
// offline USB printers left out, is checked against a real scheduler in tst_printers_desktop.
#include "common/AppTestMain.h"
#include "platform/Printers.h"

class TestPrinterList : public QObject
{
    Q_OBJECT

private slots:
    // Looked up for every query.
    void noScheduler()
    {
        qputenv("CUPS_SERVER", "/nonexistent/vexa-cups.sock");
        QCOMPARE(dispatchAndWait(R"({"Msg":"PrinterStatus"})"), QString("{\"code\":200, \"data\":[\n]\n}"));
    }

    // The user's own default wins over the scheduler's, found the way libcups finds it.
    void userDefault_data()
    {
        // LPDEST, PRINTER, the system's lpoptions, the user's; the default
        QTest::addColumn<QByteArrayList>("lstCase");
        QTest::newRow("none: the scheduler's") << QByteArrayList{"", "", "", "", ""};
        QTest::newRow("LPDEST first") << QByteArrayList{"A", "B", "Default C\n", "", "A"};
        QTest::newRow("PRINTER") << QByteArrayList{"", "B", "Default C\n", "", "B"};
        QTest::newRow("PRINTER lp ignored") << QByteArrayList{"", "lp", "", "", ""};
        QTest::newRow("user's last") << QByteArrayList{"", "", "Default C\n", "Dest D\ndefault E/big x=1\n", "E/big"};
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

// A Windows spooler record (PRINTER_INFO_2) as the printer list's facts, and whether it is listed.
#include <QtTest>

#include "commands/PrinterList.h"

class TestPrinterRecords : public QObject
{
    Q_OBJECT
private slots:
    void mapping_data()
    {
        QTest::addColumn<QString>("strPort");
        QTest::addColumn<uint>("unAttributes");
        QTest::addColumn<uint>("unStatus");
        QTest::addColumn<QString>("strFacts");  // USB, offline, default; listed
        QTest::newRow("USB") << "USB001" << 0u << 0u << "100 1";
        QTest::newRow("USB offline") << "USB001" << 0u << 0x80u << "110 0";
        QTest::newRow("USB not available") << "USB002" << 0u << 0x1000u << "110 0";
        QTest::newRow("USB work offline") << "USB003" << 0x400u << 0u << "110 0";
        QTest::newRow("lower-case usb") << "usb001" << 0x400u << 0x1080u << "010 1";
        QTest::newRow("default flag") << "CUPS:VexaPDF" << 0x6u << 0x8u << "001 1";
    }
    void mapping()
    {
        QFETCH(QString, strPort);
        QFETCH(uint, unAttributes);
        QFETCH(uint, unStatus);
        QFETCH(QString, strFacts);
        const Platform::PrinterFacts facts = Platform::factsFromSpoolerRecord("P", strPort, unAttributes, unStatus);
        QCOMPARE(QStringLiteral("%1%2%3 %4").arg(facts.bUsb).arg(facts.bOffline).arg(facts.bDefault)
                     .arg(buildPrinterList({facts}).size()), strFacts);
    }
};

QTEST_APPLESS_MAIN(TestPrinterRecords)
#include "tst_printer_records.moc"

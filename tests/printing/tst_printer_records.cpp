// The Windows spooler's PRINTER_INFO_2 record mapped to the printer list's facts.
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
        QTest::addColumn<QString>("strFacts");  // USB, offline, default; then "listed" or "skipped"
        QTest::newRow("USB, online") << "USB001" << 0u << 0u << "100 listed";
        QTest::newRow("USB, offline") << "USB001" << 0u << 0x80u << "110 skipped";
        QTest::newRow("USB, not available") << "USB002" << 0u << 0x1000u << "110 skipped";
        QTest::newRow("USB, work offline") << "USB003" << 0x400u << 0u << "110 skipped";
        QTest::newRow("usb in lower case") << "usb001" << 0x400u << 0x1080u << "010 listed";
        QTest::newRow("network, offline") << "IP_10.0.0.9" << 0x400u << 0x80u << "010 listed";
        QTest::newRow("default attribute") << "CUPS:VexaPDF" << 0x4u << 0u << "001 listed";
        QTest::newRow("other attributes") << "FILE:" << 0x2u << 0x8u << "000 listed";
    }
    void mapping()
    {
        QFETCH(QString, strPort);
        QFETCH(uint, unAttributes);
        QFETCH(uint, unStatus);
        QFETCH(QString, strFacts);
        const Platform::PrinterFacts facts = Platform::factsFromSpoolerRecord("P", strPort, unAttributes, unStatus);
        const QString strFlags = QString::number(facts.bUsb) + QString::number(facts.bOffline)
            + QString::number(facts.bDefault);
        const bool bListed = !buildPrinterList({facts}).isEmpty();
        QCOMPARE(strFlags + (bListed ? " listed" : " skipped"), strFacts);
        QCOMPARE(facts.strPort, strPort);
    }
};

QTEST_APPLESS_MAIN(TestPrinterRecords)
#include "tst_printer_records.moc"

// The printer list: the listing rule on given facts, and "PrinterStatus" against the local CUPS.
#include <QJsonDocument>
#include <QJsonObject>

#include "PdfOutput.h"
#include "common/AppTestMain.h"
#include "commands/PrinterList.h"

namespace {
Platform::PrinterFacts facts(const QString &strName, const QString &strUri, bool bDefault, bool bOffline)
{
    Platform::PrinterFacts printer;
    printer.strName = strName;
    printer.strDeviceUri = strUri;
    printer.bDefault = bDefault;
    printer.bUsb = Platform::isUsbDeviceUri(strUri);
    printer.bOffline = bOffline;
    return printer;
}

QString names(const QJsonArray &arrList)
{
    QStringList lstNames;
    for (const QJsonValue &value : arrList) {
        const QJsonObject obj = value.toObject();
        lstNames << QStringLiteral("%1/%2/%3").arg(obj.value("name").toString(), obj.value("state").toString())
                        .arg(obj.value("default").toInt());
    }
    return lstNames.join(QLatin1Char(' '));
}
}

class TestPrinterList : public QObject
{
    Q_OBJECT

private slots:
    void usbScheme_data()
    {
        QTest::addColumn<QString>("strUri");
        QTest::addColumn<bool>("bUsb");
        QTest::newRow("usb") << "usb://EPSON/TM-T82?serial=1" << true;
        QTest::newRow("upper case") << "USB://EPSON/TM-T82" << false;
        QTest::newRow("longer scheme") << "usbx://a" << false;
        QTest::newRow("socket") << "socket://10.0.0.5:9100" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("usb in the path") << "ipp://host/usb" << false;
    }
    void usbScheme()
    {
        QFETCH(QString, strUri);
        QFETCH(bool, bUsb);
        QCOMPARE(Platform::isUsbDeviceUri(strUri), bUsb);
    }

    void offlineState_data()
    {
        QTest::addColumn<QString>("strState");
        QTest::addColumn<QString>("strReasons");
        QTest::addColumn<bool>("bOffline");
        QTest::newRow("idle") << "3" << "none" << false;
        QTest::newRow("printing") << "4" << "" << false;
        QTest::newRow("stopped") << "5" << "paused" << true;
        QTest::newRow("offline report") << "3" << "offline-report" << true;
        QTest::newRow("offline among others") << "4" << "media-empty-warning,offline-report" << true;
        QTest::newRow("other reasons") << "3" << "media-empty-warning,toner-low" << false;
    }
    void offlineState()
    {
        QFETCH(QString, strState);
        QFETCH(QString, strReasons);
        QFETCH(bool, bOffline);
        QCOMPARE(Platform::isOfflineState(strState, strReasons), bOffline);
    }

    void listingRule()
    {
        const QJsonArray arrList = buildPrinterList({
            facts("UsbOff", "usb://a", false, true),
            facts("UsbOn", "usb://b", false, false),
            facts("NetOff", "socket://10.0.0.5:9100", false, true),
            facts("UpperUsbOff", "USB://c", false, true),
            facts("Main", "cups-pdf:/", true, false),
        });
        QCOMPARE(names(arrList), QStringLiteral("UsbOn/Online/0 NetOff/Online/0 UpperUsbOff/Online/0 Main/Online/1"));
        QCOMPARE(QJsonDocument(buildPrinterList({})).toJson(QJsonDocument::Indented), QByteArray("[\n]\n"));
    }

    void printerStatusFromCups()
    {
        const QString strWhy = PdfOutput::whyNotReady();
        // A developer machine may lack the print queues; CI starts them, so there it is a failure.
        if (!strWhy.isEmpty() && qEnvironmentVariableIsSet("CI"))
            QFAIL(qPrintable(strWhy));
        if (!strWhy.isEmpty())
            QSKIP(qPrintable(strWhy));
        const QString strReply = dispatchAndWait(R"({"Msg":"PrinterStatus"})");
        const QString strPrefix = QStringLiteral("{\"code\":200, \"data\":");
        QVERIFY2(strReply.startsWith(strPrefix) && strReply.endsWith(QStringLiteral("]\n}")), qPrintable(strReply));
        const QJsonArray arrList = QJsonDocument::fromJson(strReply.mid(strPrefix.size()).chopped(1).toUtf8()).array();
        const QString strNames = names(arrList);
        QVERIFY2(strNames.contains(PdfOutput::queueName() + QStringLiteral("/Online/1")), qPrintable(strNames));
        QVERIFY2(strNames.contains(QStringLiteral("VexaNetOff/Online/0")), qPrintable(strNames));
        QVERIFY2(!strNames.contains(QStringLiteral("VexaUsbOff")), qPrintable(strNames));
        // Indented form, members in key order.
        QVERIFY2(strReply.contains(QStringLiteral("        \"default\": 1,\n        \"name\": \"%1\",\n        \"state\": \"Online\"\n")
                                       .arg(PdfOutput::queueName())),
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
        QTest::addColumn<QByteArray>("baSystemFile");
        QTest::addColumn<QByteArray>("baUserFile");
        QTest::addColumn<QString>("strDefault");
        QTest::newRow("none: the scheduler's") << QByteArray() << QByteArray() << QByteArray() << QByteArray() << "";
        QTest::newRow("LPDEST first") << QByteArray("A") << QByteArray("B") << QByteArray("Default C\n") << QByteArray() << "A";
        QTest::newRow("PRINTER") << QByteArray() << QByteArray("B") << QByteArray("Default C\n") << QByteArray() << "B";
        QTest::newRow("PRINTER lp ignored") << QByteArray() << QByteArray("lp") << QByteArray() << QByteArray() << "";
        QTest::newRow("user file over system file")
            << QByteArray() << QByteArray() << QByteArray("Default C\n") << QByteArray("Dest D x=1\ndefault E/big sides=one\n")
            << "E/big";
        QTest::newRow("only Dest lines") << QByteArray() << QByteArray() << QByteArray() << QByteArray("Dest D\n") << "";
    }
    void userDefault()
    {
        QFETCH(QByteArray, baLpDest);
        QFETCH(QByteArray, baPrinter);
        QFETCH(QByteArray, baSystemFile);
        QFETCH(QByteArray, baUserFile);
        QFETCH(QString, strDefault);
        QCOMPARE(Platform::userDefaultDestination(baLpDest, baPrinter, {baSystemFile, baUserFile}), strDefault);
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrinterList)
#include "tst_printerlist.moc"

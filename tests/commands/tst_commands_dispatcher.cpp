// Dispatcher refusals, the stored Settings and the room area commands, "PrinterStatus" without a scheduler
// and the user's own default printer, on the in-process application object. The printer list with a
// scheduler (offline USB printers left out) is checked in tst_printers_desktop.
#include <QJsonDocument>

#include "common/AppTestMain.h"
#include "common/TestFiles.h"
#include "log/Log.h"
#include "platform/Printers.h"

static QString filePath(const QString &strName) { return mainApp()->appDir() + '/' + strName; }

class TestCommandsDispatcher : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("baBody");
        QTest::addColumn<QString>("strReply");
        QTest::addColumn<QString>("strLogged"); // the only line, or none
        QTest::newRow("not JSON") << QByteArray("打印") << "{\"code\":0}" << "http连接数据错误";
        QTest::newRow("unknown Msg") << QByteArray(R"({"Msg":"settings","data":[]})") << "{\"code\":0}" << "";
        QTest::newRow("no content") << QByteArray(R"({"Msg":""})") << "{\"code\":1}" << "printer content is empty";
        QTest::newRow("FireAlarm query") << QByteArray(R"({"Msg":"FireAlarm","query":"OPEN"})") << "{\"code\":0}" << "";
        QTest::newRow("CloseRoom no query") << QByteArray(R"({"Msg":"CloseRoom","ip":"10.0.0.5"})") << "{\"code\":0}"
                                            << "";
        QTest::newRow("Settings object") << QByteArray(R"({"Msg":"Settings","data":{"Name":"B"}})") << "{\"code\":0}"
                                         << "";
    }
    void refusals()
    {
        QFETCH(QByteArray, baBody);
        QFETCH(QString, strReply);
        QFETCH(QString, strLogged);
        const int nFrom = g_printerLog.pendingLines().size();
        QCOMPARE(dispatchAndWait(baBody), strReply);
        const QStringList lstLines = g_printerLog.pendingLines().mid(nFrom);
        QCOMPARE(lstLines.size(), int(!strLogged.isEmpty()));
        QVERIFY2(lstLines.isEmpty() || lstLines.first().contains("] " + strLogged), qPrintable(lstLines.join('\n')));
        QVERIFY(!QFile::exists(filePath("PrinterConfig.json")));
    }

    // Settings keep the whole request; SetRoomArea's request is what GetRoomArea answers, indented. With the
    // application directory gone (a root test cannot rely on file modes), both answer 0 and log the failure.
    void requestsAreStored()
    {
        const QByteArray baRequest = R"({"Msg":"Settings","extra":"保留","data":[{"Name":"A","Height":null}]})";
        QCOMPARE(dispatchAndWait(R"({"Msg":"GetRoomArea"})"), QString()); // none stored yet
        QCOMPARE(dispatchAndWait(baRequest), QString("{\"code\":200}"));
        QCOMPARE(QJsonDocument::fromJson(readFile(filePath("PrinterConfig.json"))), QJsonDocument::fromJson(baRequest));
        const QByteArray baArea = QString(R"({"Msg":"SetRoomArea","b":{"楼层":2},"c":[]})").toUtf8();
        QCOMPARE(dispatchAndWait(baArea), QString("{\"code\":200}"));
        QCOMPARE(dispatchAndWait(R"({"Msg":"GetRoomArea"})"), QJsonDocument::fromJson(baArea).toJson());
        QVERIFY(QDir().rename(mainApp()->appDir(), mainApp()->appDir() + ".moved"));
        const int nFrom = g_printerLog.pendingLines().size();
        QCOMPARE(dispatchAndWait(R"({"Msg":"Settings","data":[]})"), QString("{\"code\":0}"));
        QCOMPARE(dispatchAndWait(R"({"Msg":"SetRoomArea","a":1})"), QString("{\"code\":0}"));
        const QStringList lstLines = g_printerLog.pendingLines().mid(nFrom);
        QVERIFY(QDir().rename(mainApp()->appDir() + ".moved", mainApp()->appDir()));
        QCOMPARE(lstLines.filter("] 打印机配置写失败,./PrinterConfig.json (").size(), 1);
        QCOMPARE(lstLines.filter("] 打印机配置写失败,./RoomArea.json (").size(), 1);
    }

    // Looked up for every query.
    void printerStatusWithoutScheduler()
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

VEXA_TEST_MAIN_WITH_APP(TestCommandsDispatcher)
#include "tst_commands_dispatcher.moc"

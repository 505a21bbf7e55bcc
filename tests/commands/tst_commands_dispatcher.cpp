// Dispatcher refusals, the stored Settings and the room area commands, on the in-process application object.
#include <QJsonDocument>

#include "common/AppTestMain.h"
#include "log/Log.h"

static QString filePath(const QString &strName) { return mainApp()->appDir() + '/' + strName; }

class TestCommandsDispatcher : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(filePath("RoomArea.json")), QFile::remove(filePath("PrinterConfig.json")); }
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("baBody"), QTest::addColumn<QString>("strReply"), QTest::addColumn<QString>("strLogged"); // the only line
        QTest::newRow("not JSON") << QByteArray("打印") << "{\"code\":0}" << "http连接数据错误，len: 6, data: 打印";
        QTest::newRow("unknown Msg") << QByteArray("{\"Msg\":\"settings\",\"data\":[]}") << "{\"code\":0}" << "";
        QTest::newRow("empty Msg, no content") << QByteArray("{\"Msg\":\"\"}") << "{\"code\":1}" << "printer content is empty";
        QTest::newRow("FireAlarm bad query") << QByteArray("{\"Msg\":\"FireAlarm\",\"query\":\"OPEN\"}") << "{\"code\":0}" << "";
        QTest::newRow("CloseRoom no query") << QByteArray("{\"Msg\":\"CloseRoom\",\"ip\":\"10.0.0.5\"}") << "{\"code\":0}" << "";
        QTest::newRow("Settings data object") << QByteArray("{\"Msg\":\"Settings\",\"data\":{\"Name\":\"B\"}}") << "{\"code\":0}" << "";
    }
    void refusals()
    {
        QFETCH(QByteArray, baBody);
        QFETCH(QString, strReply);
        QFETCH(QString, strLogged);
        const int nFrom = g_printerLog.pendingLines().size();
        QCOMPARE(dispatchAndWait(baBody), strReply);
        const QStringList lst = g_printerLog.pendingLines().mid(nFrom);
        QVERIFY2(strLogged.isEmpty() ? lst.isEmpty() : lst.size() == 1 && lst.first().contains("] " + strLogged + " ("), qPrintable(lst.join('\n')));
        QVERIFY(!QFile::exists(filePath("PrinterConfig.json")));
    }
    // Settings keep the whole request; SetRoomArea's request is what GetRoomArea answers, indented. With the
    // application directory gone (a root test cannot rely on file modes), both answer 0 and log the failure.
    void requestsAreStored()
    {
        const QByteArray baRequest = "{\"Msg\":\"Settings\",\"extra\":\"保留\",\"data\":[{\"Name\":\"A\",\"Height\":null}]}";
        QCOMPARE(dispatchAndWait(baRequest) + dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"), QStringLiteral("{\"code\":200}"));
        QFile file(filePath("PrinterConfig.json"));
        QCOMPARE(QJsonDocument::fromJson((file.open(QIODevice::ReadOnly), file.readAll())), QJsonDocument::fromJson(baRequest));
        QCOMPARE(dispatchAndWait(QStringLiteral("{\"Msg\":\"SetRoomArea\",\"b\":{\"楼层\":2},\"c\":[]}").toUtf8()), QStringLiteral("{\"code\":200}"));
        QCOMPARE(dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"), QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"b\": {\n        \"楼层\": 2\n    },\n    \"c\": [\n    ]\n}\n"));
        QVERIFY(QDir().rename(mainApp()->appDir(), mainApp()->appDir() + ".moved"));
        const int nFrom = g_printerLog.pendingLines().size();
        const QString strReplies = dispatchAndWait("{\"Msg\":\"Settings\",\"data\":[]}") + dispatchAndWait("{\"Msg\":\"SetRoomArea\",\"a\":1}");
        const QStringList lst = g_printerLog.pendingLines().mid(nFrom);
        QVERIFY(QDir().rename(mainApp()->appDir() + ".moved", mainApp()->appDir()));
        QCOMPARE(strReplies, QStringLiteral("{\"code\":0}{\"code\":0}"));
        QCOMPARE(lst.filter("] 打印机配置写失败,./PrinterConfig.json (").size() + lst.filter("] 打印机配置写失败,./RoomArea.json (").size(), 2);
    }
};

VEXA_TEST_MAIN_WITH_APP(TestCommandsDispatcher)
#include "tst_commands_dispatcher.moc"

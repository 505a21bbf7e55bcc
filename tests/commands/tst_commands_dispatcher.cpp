// Dispatcher refusals, the stored Settings and the room area commands, on the in-process application object.
#include <QDir>
#include <QJsonDocument>

#include "common/AppTestMain.h"
#include "log/Log.h"

static QString filePath(const QString &strName)
{
    return mainApp()->appDir() + QLatin1Char('/') + strName;
}

// Messages logged since nFrom, without time stamp and source position.
static QStringList messagesSince(int nFrom)
{
    QStringList lst;
    for (QString strLine : g_printerLog.pendingLines().mid(nFrom)) {
        strLine = strLine.mid(strLine.indexOf(QLatin1String("] ")) + 2);
        lst << strLine.left(strLine.lastIndexOf(QLatin1String(" (")));
    }
    return lst;
}

class TestCommandsDispatcher : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(filePath("RoomArea.json")); QFile::remove(filePath("PrinterConfig.json")); }
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("baBody");
        QTest::addColumn<QString>("strReply");
        QTest::addColumn<QString>("strLogged");  // the only line logged, if any
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
        QCOMPARE(messagesSince(nFrom).join('\n'), strLogged);
        QVERIFY(!QFile::exists(filePath("PrinterConfig.json")));
    }
    // Settings keep the whole request; SetRoomArea's request is what GetRoomArea answers, indented.
    void requestsAreStored()
    {
        const QByteArray baRequest = "{\"Msg\":\"Settings\",\"extra\":\"保留\",\"data\":[{\"Name\":\"A\",\"Height\":null}]}";
        QCOMPARE(dispatchAndWait(baRequest), QStringLiteral("{\"code\":200}"));
        QFile file(filePath("PrinterConfig.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray baFile = file.readAll();
        QCOMPARE(QJsonDocument::fromJson(baFile), QJsonDocument::fromJson(baRequest));
        QVERIFY(baFile.startsWith("{\n    \"Msg\": \"Settings\",\n"));
        QCOMPARE(dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"), QString());
        QCOMPARE(dispatchAndWait(QStringLiteral("{\"Msg\":\"SetRoomArea\",\"b\":{\"楼层\":2},\"c\":[]}").toUtf8()),
                 QStringLiteral("{\"code\":200}"));
        QCOMPARE(dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"),
                 QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"b\": {\n        \"楼层\": 2\n    },\n    \"c\": [\n    ]\n}\n"));
    }
    // The application directory disappears (a root test cannot rely on file modes): nothing can be opened.
    void writeFailuresAnswerZero()
    {
        const QString strMoved = mainApp()->appDir() + QStringLiteral(".moved");
        QVERIFY(QDir().rename(mainApp()->appDir(), strMoved));
        const int nFrom = g_printerLog.pendingLines().size();
        const QStringList lstReplies{dispatchAndWait("{\"Msg\":\"Settings\",\"data\":[]}"),
                                     dispatchAndWait("{\"Msg\":\"SetRoomArea\",\"a\":1}")};
        const QStringList lstLogged = messagesSince(nFrom);
        QVERIFY(QDir().rename(strMoved, mainApp()->appDir()));
        QCOMPARE(lstReplies, QStringList({"{\"code\":0}", "{\"code\":0}"}));
        QVERIFY2(lstLogged.contains("打印机配置写失败,./PrinterConfig.json") && lstLogged.contains("打印机配置写失败,./RoomArea.json"),
                 qPrintable(lstLogged.join('\n')));
    }
};

VEXA_TEST_MAIN_WITH_APP(TestCommandsDispatcher)
#include "tst_commands_dispatcher.moc"

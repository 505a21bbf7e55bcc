// Dispatcher refusals and the room area commands, on the in-process application object.
#include <QDir>
#include <QJsonDocument>

#include "common/AppTestMain.h"
#include "log/Log.h"

namespace {
QString filePath(const QString &strName)
{
    return mainApp()->appDir() + QLatin1Char('/') + strName;
}

QByteArray readFile(const QString &strName)
{
    QFile file(filePath(strName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Messages logged since nFrom, without time stamp and source position.
QStringList messagesSince(int nFrom)
{
    QStringList lst;
    for (QString strLine : g_printerLog.pendingLines().mid(nFrom)) {
        strLine = strLine.mid(strLine.indexOf(QLatin1String("] ")) + 2);
        lst << strLine.left(strLine.lastIndexOf(QLatin1String(" (")));
    }
    return lst;
}
}

class TestCommandsDispatcher : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void refusals_data();
    void refusals();
    void settingsWithObjectDataLeavesFileAlone();
    void settingsStoresWholeRequest();
    void roomAreaRoundTrip();
    void roomAreaFromBrokenFileIsEmpty();
    void writeFailuresAnswerZero_data();
    void writeFailuresAnswerZero();
};

void TestCommandsDispatcher::init()
{
    QFile::remove(filePath("RoomArea.json"));
    QFile::remove(filePath("PrinterConfig.json"));
}

void TestCommandsDispatcher::refusals_data()
{
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<QString>("strReply");
    QTest::addColumn<QStringList>("lstLogged");
    QTest::newRow("empty object") << QByteArray("{}") << "{\"code\":0}"
                                  << QStringList{"http连接数据错误，len: 2, data: {}"};
    QTest::newRow("array") << QByteArray("[]") << "{\"code\":0}" << QStringList{"http连接数据错误，len: 2, data: []"};
    QTest::newRow("not JSON") << QByteArray("打印") << "{\"code\":0}" << QStringList{"http连接数据错误，len: 6, data: 打印"};
    QTest::newRow("empty body") << QByteArray() << "{\"code\":0}" << QStringList{"http连接数据错误，len: 0, data: "};
    QTest::newRow("unknown Msg") << QByteArray("{\"Msg\":\"Reboot\"}") << "{\"code\":0}" << QStringList();
    QTest::newRow("lower-case settings") << QByteArray("{\"Msg\":\"settings\",\"data\":[]}") << "{\"code\":0}"
                                         << QStringList();
    QTest::newRow("FireAlarm query in capitals") << QByteArray("{\"Msg\":\"FireAlarm\",\"query\":\"OPEN\"}")
                                                 << "{\"code\":0}" << QStringList();
    QTest::newRow("CloseRoom without query") << QByteArray("{\"Msg\":\"CloseRoom\",\"ip\":\"10.0.0.5\"}")
                                             << "{\"code\":0}" << QStringList();
    QTest::newRow("numeric Msg is a print request") << QByteArray("{\"Msg\":7}") << "{\"code\":1}"
                                                    << QStringList{"printer content is empty"};
    QTest::newRow("print data not a string") << QByteArray("{\"data\":[\"<p>x</p>\"]}") << "{\"code\":1}"
                                             << QStringList{"printer content is empty"};
}

void TestCommandsDispatcher::refusals()
{
    QFETCH(QByteArray, baBody);
    QFETCH(QString, strReply);
    QFETCH(QStringList, lstLogged);
    const int nFrom = g_printerLog.pendingLines().size();
    QCOMPARE(dispatchAndWait(baBody), strReply);
    QCOMPARE(messagesSince(nFrom), lstLogged);
}

void TestCommandsDispatcher::settingsWithObjectDataLeavesFileAlone()
{
    QCOMPARE(dispatchAndWait("{\"Msg\":\"Settings\",\"data\":[{\"Name\":\"A\",\"Width\":80}]}"),
             QStringLiteral("{\"code\":200}"));
    const QByteArray baBefore = readFile("PrinterConfig.json");
    QVERIFY(!baBefore.isEmpty());
    QCOMPARE(dispatchAndWait("{\"Msg\":\"Settings\",\"data\":{\"Name\":\"B\"}}"), QStringLiteral("{\"code\":0}"));
    QCOMPARE(readFile("PrinterConfig.json"), baBefore);
}

void TestCommandsDispatcher::settingsStoresWholeRequest()
{
    const QByteArray baRequest = "{\"Msg\":\"Settings\",\"extra\":\"保留\",\"data\":[{\"Name\":\"A\",\"Height\":null}]}";
    QCOMPARE(dispatchAndWait(baRequest), QStringLiteral("{\"code\":200}"));
    const QByteArray baFile = readFile("PrinterConfig.json");
    QCOMPARE(QJsonDocument::fromJson(baFile), QJsonDocument::fromJson(baRequest));
    QVERIFY(baFile.startsWith("{\n    \"Msg\": \"Settings\",\n"));
}

void TestCommandsDispatcher::roomAreaRoundTrip()
{
    QCOMPARE(dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"), QString());
    QCOMPARE(dispatchAndWait(QStringLiteral("{\"Msg\":\"SetRoomArea\",\"a\":1,\"b\":{\"楼层\":2},\"c\":[]}").toUtf8()),
             QStringLiteral("{\"code\":200}"));
    QCOMPARE(dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"),
             QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"a\": 1,\n    \"b\": {\n        \"楼层\": 2\n    },\n"
                            "    \"c\": [\n    ]\n}\n"));
    QCOMPARE(dispatchAndWait("{\"Msg\":\"SetRoomArea\",\"c\":3}"), QStringLiteral("{\"code\":200}"));
    QCOMPARE(dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"),
             QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"c\": 3\n}\n"));
}

void TestCommandsDispatcher::roomAreaFromBrokenFileIsEmpty()
{
    QFile file(filePath("RoomArea.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"Msg\":\"SetRoomArea\",");
    file.close();
    QCOMPARE(dispatchAndWait("{\"Msg\":\"GetRoomArea\"}"), QString());
}

void TestCommandsDispatcher::writeFailuresAnswerZero_data()
{
    QTest::addColumn<QByteArray>("baBody");
    QTest::addColumn<QString>("strLogged");
    QTest::newRow("Settings") << QByteArray("{\"Msg\":\"Settings\",\"data\":[]}") << "打印机配置写失败,./PrinterConfig.json";
    QTest::newRow("SetRoomArea") << QByteArray("{\"Msg\":\"SetRoomArea\",\"a\":1}") << "打印机配置写失败,./RoomArea.json";
}

// The application directory disappears (a root test cannot rely on file modes): nothing can be opened.
void TestCommandsDispatcher::writeFailuresAnswerZero()
{
    QFETCH(QByteArray, baBody);
    QFETCH(QString, strLogged);
    const QString strMoved = mainApp()->appDir() + QStringLiteral(".moved");
    QVERIFY(QDir().rename(mainApp()->appDir(), strMoved));
    const int nFrom = g_printerLog.pendingLines().size();
    const QString strReply = dispatchAndWait(baBody);
    const QStringList lstLogged = messagesSince(nFrom);
    QVERIFY(QDir().rename(strMoved, mainApp()->appDir()));
    QCOMPARE(strReply, QStringLiteral("{\"code\":0}"));
    QVERIFY2(lstLogged.contains(strLogged), qPrintable(lstLogged.join('\n')));
}

VEXA_TEST_MAIN_WITH_APP(TestCommandsDispatcher)
#include "tst_commands_dispatcher.moc"

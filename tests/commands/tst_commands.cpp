// On the in-process application object: dispatcher refusals, the stored requests and the user's own
// default printer. The JSON file store on a folder of its own: reading, and crash safety of writes (a
// child running this binary writes). A failed write is answered 0: tst_reliability_service.
#include <QJsonArray>
#include <QJsonDocument>

#include "commands/PrinterJson.h"
#include "common/AppTestMain.h"
#include "common/TestFiles.h"
#include "log/Log.h"
#include "platform/Printers.h"

namespace {
QString filePath(const QString &strName) { return mainApp()->appDir() + '/' + strName; }

// The object of round n, big enough that a write takes a while.
QJsonObject bigObject(int nRound)
{
    const QVector<QString> vecData(20000, QString("printer-%1").arg(nRound));
    return {{"round", nRound}, {"data", QJsonArray::fromStringList(vecData.toList())}};
}

int broken() { return g_printerLog.pendingLines().filter("解析失败,./RoomArea.json").size(); }
}

class TestCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir storeDir;
    PrinterJson store{storeDir.path()};

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

    // Settings keep the whole request; SetRoomArea's request is what GetRoomArea answers, indented.
    void requestsAreStored()
    {
        const QByteArray baRequest = R"({"Msg":"Settings","extra":"保留","data":[{"Name":"A","Height":null}]})";
        QCOMPARE(dispatchAndWait(R"({"Msg":"GetRoomArea"})"), QString()); // none stored yet
        QCOMPARE(dispatchAndWait(baRequest), QString("{\"code\":200}"));
        QCOMPARE(QJsonDocument::fromJson(readFile(filePath("PrinterConfig.json"))), QJsonDocument::fromJson(baRequest));
        const QByteArray baArea = QString(R"({"Msg":"SetRoomArea","b":{"楼层":2},"c":[]})").toUtf8();
        QCOMPARE(dispatchAndWait(baArea), QString("{\"code\":200}"));
        QCOMPARE(dispatchAndWait(R"({"Msg":"GetRoomArea"})"), QJsonDocument::fromJson(baArea).toJson());
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

    void read_data()
    {
        QTest::addColumn<QByteArray>("baText");
        QTest::addColumn<QJsonObject>("objRead"); // an empty one from a file that is not empty is reported
        QTest::newRow("a zero byte ends the text") << QByteArray("{\"a\":1}\0{garbage", 16) << QJsonObject{{"a", 1}};
        QTest::newRow("cut by a zero byte") << QByteArray("{\"a\":\0 1}", 9) << QJsonObject();
        QTest::newRow("empty") << QByteArray() << QJsonObject();
        QTest::newRow("cut") << QByteArray("{\"a\":") << QJsonObject();
    }
    // Silent unless asked; a missing file is no fault.
    void read()
    {
        QFETCH(QByteArray, baText);
        QFETCH(QJsonObject, objRead);
        QVERIFY(writeFile(storeDir.filePath("RoomArea.json"), baText));
        const int nBefore = broken();
        QCOMPARE(store.readJsonFile("./RoomArea.json"), objRead);
        QCOMPARE(store.readJsonFile("./Missing.json", true), QJsonObject());
        QCOMPARE(broken(), nBefore);
        QCOMPARE(store.readJsonFile("./RoomArea.json", true), objRead);
        QCOMPARE(broken(), nBefore + int(objRead.isEmpty() && !baText.isEmpty()));
    }

    // SIGKILL at arbitrary moments of a stream of rewrites: the file is always one whole object.
    void killedWriter()
    {
        const QString strPath = storeDir.filePath("PrinterConfig.json");
        for (int nKill = 0; nKill < 8; ++nKill) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"--write-forever", storeDir.path()});
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(strPath), 10000);
            QTest::qWait(QRandomGenerator::global()->bounded(20, 120));
            writer.kill();
            QVERIFY(writer.waitForFinished());
            const QJsonObject obj = QJsonDocument::fromJson(readFile(strPath)).object();
            QCOMPARE(obj, bigObject(obj.value("round").toInt(-1)));
        }
    }
};

int main(int argc, char *argv[])
{
    // The writer the crash test kills.
    for (int nRound = 0; argc == 3 && qstrcmp(argv[1], "--write-forever") == 0; ++nRound)
        PrinterJson(QString::fromLocal8Bit(argv[2])).writeJsonFile(bigObject(nRound), "./PrinterConfig.json");
    QTemporaryDir appDir;
    CMainApp app(argc, argv, appDir.path());
    app.start();
    TestCommands tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_commands.moc"

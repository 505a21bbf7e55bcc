// The JSON file store: reading back, failures, and crash safety of writes (a child running this binary).
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "commands/PrinterJson.h"
#include "log/Log.h"

// The object the crash test writes in round n: big enough that a write takes a while.
static QJsonObject bigObject(int nRound)
{
    QJsonArray arrData;
    for (int i = 0; i < 20000; ++i)
        arrData.append(QJsonObject{{"Name", QStringLiteral("printer-%1").arg(i)}, {"Width", nRound}});
    return QJsonObject{{"Msg", "Settings"}, {"round", nRound}, {"data", arrData}};
}

class TestCommandsStore : public QObject
{
    Q_OBJECT
    QTemporaryDir appDir;
    PrinterJson store{appDir.path()};

    int nLogFrom = 0;
    QStringList newLines() { const QStringList lst = g_printerLog.pendingLines().mid(nLogFrom); nLogFrom += lst.size(); return lst; }

private slots:
    // Silent unless asked, and a missing file is no fault; files read at start are reported when they
    // are there, not empty, and hold no object. A zero byte ends the text.
    void readYieldsObjectOrEmpty()
    {
        const QList<QPair<QByteArray, QJsonObject>> lstCases = {{QByteArray("{\"a\":1}\0{garbage", 16), {{"a", 1}}},
            {QByteArray("{\"a\":\0 1}", 9), {}}, {QByteArray(), {}}, {QByteArray("{\"a\":"), {}}};
        for (const auto &c : lstCases) {
            QFile file(appDir.filePath("RoomArea.json"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(c.first) == c.first.size());
            file.close();
            newLines();
            QCOMPARE(store.readJsonFile(QStringLiteral("./RoomArea.json")), c.second);
            QCOMPARE(store.readJsonFile(QStringLiteral("./Missing.json"), true), QJsonObject());
            QCOMPARE(newLines(), QStringList());
            QCOMPARE(store.readJsonFile(QStringLiteral("./RoomArea.json"), true), c.second);
            QCOMPARE(newLines().filter(QStringLiteral("] 配置文件解析失败,./RoomArea.json (")).size(), c.second.isEmpty() && !c.first.isEmpty() ? 1 : 0);
        }
    }

    void writeReadBackAndFailureLine()
    {
        const QJsonObject obj{{"Msg", "Settings"}, {"a", QJsonObject{{"c", QJsonArray{1, "二"}}}}};
        QVERIFY(store.writeJsonFile(obj, QStringLiteral("./PrinterConfig.json")));
        QCOMPARE(store.readJsonFile(QStringLiteral("./PrinterConfig.json")), obj);
        newLines();
        QVERIFY(!store.writeJsonFile(obj, QStringLiteral("./NoSuchDir/RoomArea.json")));
        QCOMPARE(newLines().filter(QStringLiteral("] 打印机配置写失败,./NoSuchDir/RoomArea.json (")).size(), 1);
    }

    // SIGKILL at arbitrary moments of a stream of rewrites: the file is always one whole object.
    void killedWriterNeverLeavesTruncatedFile()
    {
        QFile file(appDir.filePath("PrinterConfig.json"));
        file.remove();
        for (int nKill = 0; nKill < 8; ++nKill) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"--write-forever", appDir.path()});
            QTRY_VERIFY_WITH_TIMEOUT(file.exists(), 10000);
            QTest::qWait(QRandomGenerator::global()->bounded(20, 120));
            writer.kill();
            QVERIFY(writer.waitForFinished() && file.open(QIODevice::ReadOnly));
            const QJsonObject obj = QJsonDocument::fromJson(file.readAll()).object();
            file.close();
            QCOMPARE(obj, bigObject(obj.value("round").toInt(-1)));
        }
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--write-forever") == 0) {
        PrinterJson store(QString::fromLocal8Bit(argv[2]));
        for (int nRound = 0;; ++nRound)
            store.writeJsonFile(bigObject(nRound), QStringLiteral("./PrinterConfig.json"));
    }
    QCoreApplication app(argc, argv);
    TestCommandsStore tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_commands_store.moc"

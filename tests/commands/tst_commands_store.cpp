// The JSON file store: reading, and crash safety of writes (a child running this binary writes).
#include <QJsonArray>
#include <QtTest>

#include "commands/PrinterJson.h"
#include "common/TestFiles.h"
#include "log/Log.h"

// The object of round n, big enough that a write takes a while.
static QJsonObject bigObject(int nRound)
{
    const QVector<QString> vecData(20000, QString("printer-%1").arg(nRound));
    return {{"round", nRound}, {"data", QJsonArray::fromStringList(vecData.toList())}};
}

class TestCommandsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir appDir;
    PrinterJson store{appDir.path()};

    static int broken() { return g_printerLog.pendingLines().filter("解析失败,./RoomArea.json").size(); }

private slots:
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
        QVERIFY(writeFile(appDir.filePath("RoomArea.json"), baText));
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
        const QString strPath = appDir.filePath("PrinterConfig.json");
        for (int nKill = 0; nKill < 8; ++nKill) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"--write-forever", appDir.path()});
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
    QCoreApplication app(argc, argv);
    TestCommandsStore tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_commands_store.moc"

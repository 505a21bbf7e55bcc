// The JSON file store: layout on disk, reading back, failures, and crash safety of writes.
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "commands/PrinterJson.h"
#include "log/Log.h"

namespace {
const int kBigEntries = 20000;

// The object the crash test writes in round n: big enough that a write takes a while.
QJsonObject bigObject(int nRound)
{
    QJsonArray arrData;
    for (int i = 0; i < kBigEntries; ++i)
        arrData.append(QJsonObject{{"Name", QStringLiteral("printer-%1").arg(i)}, {"Width", nRound}});
    return QJsonObject{{"Msg", "Settings"}, {"round", nRound}, {"data", arrData}};
}

// Child mode: rewrite the file forever until killed.
int writeForever(const QString &strDir)
{
    PrinterJson store(strDir);
    for (int nRound = 0;; ++nRound)
        store.writeJsonFile(bigObject(nRound), QStringLiteral("./PrinterConfig.json"));
}

QByteArray readFile(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &strPath, const QByteArray &baData)
{
    QFile file(strPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(baData);
}
}

class TestCommandsStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void writesIndentedAndReadsBack();
    void namesResolveAgainstAppDir();
    void readYieldsObjectOrEmpty_data();
    void readYieldsObjectOrEmpty();
    void writeFailureIsLogged();
    void killedWriterNeverLeavesTruncatedFile();

private:
    QTemporaryDir appDir;
};

void TestCommandsStore::init()
{
    QDir(appDir.path()).removeRecursively();
    QDir().mkpath(appDir.path());
}

void TestCommandsStore::writesIndentedAndReadsBack()
{
    PrinterJson store(appDir.path());
    const QJsonObject obj{{"Msg", "Settings"}, {"b", 1}, {"a", QJsonObject{{"c", QJsonArray{1, "二"}}}}};
    QVERIFY(store.writeJsonFile(obj, QStringLiteral("./PrinterConfig.json")));
    QCOMPARE(QString::fromUtf8(readFile(appDir.filePath("PrinterConfig.json"))),
             QStringLiteral("{\n    \"Msg\": \"Settings\",\n    \"a\": {\n        \"c\": [\n            1,\n"
                            "            \"二\"\n        ]\n    },\n    \"b\": 1\n}\n"));
    QCOMPARE(store.readJsonFile(QStringLiteral("./PrinterConfig.json")), obj);
    QCOMPARE(QDir(appDir.path()).entryList(QDir::Files), QStringList{"PrinterConfig.json"});  // no temp file left
}

void TestCommandsStore::namesResolveAgainstAppDir()
{
    QTemporaryDir otherDir;
    const QString strOldCwd = QDir::currentPath();
    QDir::setCurrent(otherDir.path());
    QDir(appDir.path()).mkdir(QStringLiteral("Updater"));
    PrinterJson store(appDir.path());
    QVERIFY(store.writeJsonFile(QJsonObject{{"k", 1}}, QStringLiteral("./Updater/Update.conf")));
    QDir::setCurrent(strOldCwd);
    QVERIFY(QFile::exists(appDir.filePath("Updater/Update.conf")));
    QVERIFY(!QFile::exists(otherDir.filePath("Updater/Update.conf")));
    QCOMPARE(store.readJsonFile(QStringLiteral("./Updater/Update.conf")), (QJsonObject{{"k", 1}}));
}

void TestCommandsStore::readYieldsObjectOrEmpty_data()
{
    QTest::addColumn<QByteArray>("baContent");
    QTest::addColumn<QJsonObject>("objExpected");
    QTest::addColumn<bool>("bBroken");
    QTest::newRow("zero byte ends the text") << QByteArray("{\"a\":1}\0{garbage", 16) << QJsonObject{{"a", 1}} << false;
    QTest::newRow("zero byte inside the object") << QByteArray("{\"a\":\0 1}", 9) << QJsonObject() << true;
    QTest::newRow("only zero bytes") << QByteArray(4096, '\0') << QJsonObject() << true;
    QTest::newRow("array") << QByteArray("[1,2]") << QJsonObject() << true;
    QTest::newRow("empty file") << QByteArray() << QJsonObject() << false;
    QTest::newRow("broken") << QByteArray("{\"a\":") << QJsonObject() << true;
}

void TestCommandsStore::readYieldsObjectOrEmpty()
{
    QFETCH(QByteArray, baContent);
    QFETCH(QJsonObject, objExpected);
    QFETCH(bool, bBroken);
    writeFile(appDir.filePath("RoomArea.json"), baContent);
    PrinterJson store(appDir.path());
    const int nFrom = g_printerLog.pendingLines().size();
    QCOMPARE(store.readJsonFile(QStringLiteral("./RoomArea.json")), objExpected);
    QCOMPARE(store.readJsonFile(QStringLiteral("./Missing.json"), true), QJsonObject());
    QCOMPARE(g_printerLog.pendingLines().size(), nFrom);  // silent unless asked, and a missing file is no fault
    // Files read at start are reported when they are there, not empty, and hold no object.
    QCOMPARE(store.readJsonFile(QStringLiteral("./RoomArea.json"), true), objExpected);
    const QStringList lstLines = g_printerLog.pendingLines().mid(nFrom);
    QCOMPARE(lstLines.size(), bBroken ? 1 : 0);
    if (bBroken)
        QVERIFY2(lstLines.first().contains(QStringLiteral("] 配置文件解析失败,./RoomArea.json (")), qPrintable(lstLines.first()));
}

void TestCommandsStore::writeFailureIsLogged()
{
    PrinterJson store(appDir.path());
    const int nFrom = g_printerLog.pendingLines().size();
    QVERIFY(!store.writeJsonFile(QJsonObject{{"a", 1}}, QStringLiteral("./NoSuchDir/RoomArea.json")));
    const QStringList lstLines = g_printerLog.pendingLines().mid(nFrom);
    QCOMPARE(lstLines.size(), 1);
    QVERIFY2(lstLines.first().contains(QStringLiteral("] 打印机配置写失败,./NoSuchDir/RoomArea.json (")),
             qPrintable(lstLines.first()));
}

// SIGKILL at arbitrary moments of a stream of rewrites: the file is always one whole object.
void TestCommandsStore::killedWriterNeverLeavesTruncatedFile()
{
    const QString strFile = appDir.filePath("PrinterConfig.json");
    for (int nKill = 0; nKill < 8; ++nKill) {
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {"--write-forever", appDir.path()});
        QVERIFY(writer.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(strFile), 10000);
        QTest::qWait(QRandomGenerator::global()->bounded(20, 120));
        writer.kill();
        QVERIFY(writer.waitForFinished());

        QJsonParseError error;
        const QJsonObject obj = QJsonDocument::fromJson(readFile(strFile), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        QCOMPARE(obj, bigObject(obj.value("round").toInt()));
    }
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--write-forever") == 0)
        return writeForever(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    TestCommandsStore tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_commands_store.moc"

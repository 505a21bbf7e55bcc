// The JSON file store: reading, and crash safety of writes (a child running this binary); writing is seen via the dispatcher.
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "commands/PrinterJson.h"
#include "log/Log.h"

static QJsonObject bigObject(int nRound) // the crash test's object of round n, big enough that a write takes a while
{
    return {{"round", nRound}, {"data", QJsonArray::fromStringList(QStringList::fromVector(QVector<QString>(20000, QStringLiteral("printer-%1").arg(nRound))))}};
}

class TestCommandsStore : public QObject
{
    Q_OBJECT
    QTemporaryDir appDir;
    PrinterJson store{appDir.path()};
private slots:
    // Silent unless asked (a missing file is no fault); asked, a present, non-empty file without an object is reported. A zero byte ends the text.
    void readYieldsObjectOrEmpty()
    {
        const QList<QPair<QByteArray, QJsonObject>> lstCases = {{QByteArray("{\"a\":1}\0{garbage", 16), {{"a", 1}}},
            {QByteArray("{\"a\":\0 1}", 9), {}}, {QByteArray(), {}}, {QByteArray("{\"a\":"), {}}};
        for (const auto &c : lstCases) {
            QFile file(appDir.filePath("RoomArea.json"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(c.first) == c.first.size() && file.flush());
            const int nFrom = g_printerLog.pendingLines().size();
            QCOMPARE(store.readJsonFile("./RoomArea.json"), c.second);
            QCOMPARE(store.readJsonFile("./Missing.json", true), QJsonObject());
            QCOMPARE(g_printerLog.pendingLines().size(), nFrom);
            QCOMPARE(store.readJsonFile("./RoomArea.json", true), c.second);
            QCOMPARE(g_printerLog.pendingLines().mid(nFrom).filter("] 配置文件解析失败,./RoomArea.json (").size(), c.second.isEmpty() && !c.first.isEmpty() ? 1 : 0);
        }
    }
    // SIGKILL at arbitrary moments of a stream of rewrites: the file is always one whole object.
    void killedWriterNeverLeavesTruncatedFile()
    {
        QFile file(appDir.filePath("PrinterConfig.json"));
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
    for (int nRound = 0; argc == 3 && qstrcmp(argv[1], "--write-forever") == 0; ++nRound) // the writer the crash test kills
        PrinterJson(QString::fromLocal8Bit(argv[2])).writeJsonFile(bigObject(nRound), "./PrinterConfig.json");
    QCoreApplication app(argc, argv);
    TestCommandsStore tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_commands_store.moc"

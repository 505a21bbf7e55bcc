// The in-process application object: commands, JSON store, default printer, updater, autostart entries.
#include <QJsonArray>
#include <QJsonDocument>

#include "commands/PrinterJson.h"
#include "commands/PrinterList.h"
#include "common/AppTestMain.h"
#include "common/TestFiles.h"
#include "log/Log.h"
#include "platform/Printers.h"
#include "update/AutoUpdate.h"

namespace {
QString filePath(const QString &strName) { return mainApp()->appDir() + '/' + strName; }

// Big enough that a write takes a while.
QJsonObject bigObject(int nRound)
{
    const QVector<QString> vecData(20000, QString("printer-%1").arg(nRound));
    return {{"round", nRound}, {"data", QJsonArray::fromStringList(vecData.toList())}};
}

int broken() { return g_printerLog.pendingLines().filter("解析失败,./RoomArea.json").size(); }

// FakeUpdater.cpp as a script, its process the shell.
const QByteArray kScriptUpdater = "#!/bin/sh\ndir=$(dirname \"$0\")\necho $$ >>\"$dir/started.log\"\n"
                                  "for n in $(seq 1000); do [ -e \"$dir/hold\" ] && sleep 0.02; done\n";
QByteArray fakeUpdater(const QByteArray &baTail) { return readFile(QString(VEXA_FAKE_UPDATER)) + baTail; }
int startCount(const QString &strUpdaterDir) { return readFile(strUpdaterDir + "/started.log").count('\n'); }
}

class TestApp : public QObject
{
    Q_OBJECT

    QTemporaryDir configHome;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit()); }

    void refusals_data()
    {
        QTest::addColumn<QString>("strBody");
        QTest::addColumn<QString>("strReply");
        QTest::addColumn<QString>("strLogged"); // the only line, or none
        const QString str0 = "{\"code\":0}";
        QTest::newRow("not JSON") << "打印" << str0 << "http连接数据错误";
        QTest::newRow("unknown Msg") << R"({"Msg":"settings","data":[]})" << str0 << "";
        QTest::newRow("no content") << R"({"Msg":""})" << "{\"code\":1}" << "printer content is empty";
        QTest::newRow("FireAlarm query") << R"({"Msg":"FireAlarm","query":"OPEN"})" << str0 << "";
        QTest::newRow("CloseRoom no query") << R"({"Msg":"CloseRoom","ip":"10.0.0.5"})" << str0 << "";
        QTest::newRow("Settings object") << R"({"Msg":"Settings","data":{"Name":"B"}})" << str0 << "";
    }
    void refusals()
    {
        QFETCH(QString, strBody);
        QFETCH(QString, strReply);
        QFETCH(QString, strLogged);
        const int nFrom = g_printerLog.pendingLines().size();
        QCOMPARE(dispatchAndWait(strBody.toUtf8()), strReply);
        const QStringList lstLines = g_printerLog.pendingLines().mid(nFrom);
        QCOMPARE(lstLines.size(), int(!strLogged.isEmpty()));
        QVERIFY2(lstLines.isEmpty() || lstLines.first().contains("] " + strLogged), qPrintable(lstLines.join('\n')));
        QVERIFY(!QFile::exists(filePath("PrinterConfig.json")));
    }

    // Stored whole; GetRoomArea answers SetRoomArea's request, indented. A failed write: tst_Process.
    void requestsAreStored()
    {
        const QByteArray baRequest = R"({"Msg":"Settings","extra":"保留","data":[{"Name":"A","Height":null}]})";
        QCOMPARE(dispatchAndWait(R"({"Msg":"GetRoomArea"})"), QString());
        QCOMPARE(dispatchAndWait(baRequest), QString("{\"code\":200}"));
        QCOMPARE(QJsonDocument::fromJson(readFile(filePath("PrinterConfig.json"))), QJsonDocument::fromJson(baRequest));
        const QByteArray baArea = QString(R"({"Msg":"SetRoomArea","b":{"楼层":2},"c":[]})").toUtf8();
        QCOMPARE(dispatchAndWait(baArea), QString("{\"code\":200}"));
        QCOMPARE(dispatchAndWait(R"({"Msg":"GetRoomArea"})"), QJsonDocument::fromJson(baArea).toJson());
    }

    // The user's default wins over the scheduler's, found as libcups finds it.
    void userDefault_data()
    {
        QTest::addColumn<QByteArrayList>("lstCase"); // LPDEST, PRINTER, system and user lpoptions; the default
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

    // A Windows spooler record (PRINTER_INFO_2) as the printer list's facts, and whether it is listed.
    void spoolerRecord_data()
    {
        QTest::addColumn<QString>("strPort");
        QTest::addColumn<uint>("unAttributes");
        QTest::addColumn<uint>("unStatus");
        QTest::addColumn<QString>("strFacts"); // USB, offline, default; listed
        QTest::newRow("USB") << "USB001" << 0u << 0u << "100 1";
        QTest::newRow("USB offline") << "USB001" << 0u << 0x80u << "110 0";
        QTest::newRow("USB not available") << "USB002" << 0u << 0x1000u << "110 0";
        QTest::newRow("USB work offline") << "USB003" << 0x400u << 0u << "110 0";
        QTest::newRow("lower-case usb") << "usb001" << 0x400u << 0x1080u << "010 1";
        QTest::newRow("default flag") << "CUPS:VexaPDF" << 0x6u << 0x8u << "001 1";
    }
    void spoolerRecord()
    {
        QFETCH(QString, strPort);
        QFETCH(uint, unAttributes);
        QFETCH(uint, unStatus);
        QFETCH(QString, strFacts);
        const Platform::PrinterFacts facts = Platform::factsFromSpoolerRecord("P", strPort, unAttributes, unStatus);
        const int nListed = buildPrinterList({facts}).size();
        QCOMPARE(QString("%1%2%3 %4").arg(facts.bUsb).arg(facts.bOffline).arg(facts.bDefault).arg(nListed), strFacts);
    }

    void updateConfig_data()
    {
        QTest::addColumn<QString>("strStored"); // none: no file
        QTest::addColumn<QString>("strRequest");
        QTest::addColumn<QString>("strExpected");
        QTest::addColumn<bool>("bStartsUpdater");
        QTest::newRow("new device") << R"("device":"A","version":"1")" << R"("device":"B","version":"2")"
                                    << R"("device":"B","version":"2")" << true;
        QTest::newRow("same device") << R"("device":"A","version":"1","shop":7)"
                                     << R"("device":"A","version":"2","startTime":"t")"
                                     << R"("device":"A","version":"2","startTime":"t","shop":7)" << false;
        QTest::newRow("device 66 is kept") << R"("device":"66","version":"1","startTime":"a")"
                                           << R"("device":"B","version":"2","startTime":"t")"
                                           << R"("device":"66","version":"1","startTime":"t")" << false;
        QTest::newRow("no file, none made") << "" << R"("device":"B","startTime":"t")" << "" << false;
    }
    // The updater is started (and watched) only when the stored device changes.
    void updateConfig()
    {
        QFETCH(QString, strStored);
        QFETCH(QString, strRequest);
        QFETCH(QString, strExpected);
        QFETCH(bool, bStartsUpdater);
        const QString strConf = mainApp()->appDir() + "/Updater/Update.conf";
        QFile::remove(strConf);
        QVERIFY(strStored.isEmpty() || writeFile(strConf, "{" + strStored.toUtf8() + "}"));
        mainApp()->autoUpdate()->onUpdaterTimer(); // no updater runs: the watch ends
        QVERIFY(!mainApp()->autoUpdate()->isWatching());
        QCOMPARE(dispatchAndWait(R"({"Msg":"UpdateConfig",)" + strRequest.toUtf8() + "}"), QString("{\"code\":200}"));
        const QJsonDocument expected = QJsonDocument::fromJson("{" + strExpected.toUtf8() + "}");
        QCOMPARE(QJsonDocument::fromJson(readFile(strConf)).object(), expected.object());
        QCOMPARE(mainApp()->autoUpdate()->isWatching(), bStartsUpdater);
    }

    void installAfterExit_data()
    {
        QTest::addColumn<bool>("bScript");
        QTest::newRow("program") << false;
        QTest::newRow("script") << true;
    }
    // "./Updater.exe", then "Updater/Updater.exe-new" (which wins) replace the updater once it has exited.
    void installAfterExit()
    {
        QFETCH(bool, bScript);
        QTemporaryDir dir;
        const QString strInstalled = dir.path() + "/Updater/Updater.exe";
        const QString strHold = dir.path() + "/Updater/hold";
        const QByteArray baOld = bScript ? kScriptUpdater : fakeUpdater("old");
        QVERIFY(writeFile(strInstalled, baOld, true));
        QVERIFY(writeFile(strHold, ""));
        CAutoUpdate autoUpdate(dir.path(), 0, CAutoUpdate::kAnswerPort, 50);
        autoUpdate.start();
        QTRY_COMPARE(startCount(dir.path() + "/Updater"), 1);
        QVERIFY(writeFile(dir.path() + "/Updater.exe", fakeUpdater("beside")));
        QVERIFY(writeFile(strInstalled + "-new", fakeUpdater("new")));
        autoUpdate.onUpdaterTimer();
        QVERIFY(autoUpdate.isWatching());
        QCOMPARE(readFile(strInstalled), baOld);
        QFile::remove(strHold);
        QTRY_VERIFY(!QFile::exists(strInstalled + "-new"));
        QVERIFY(!QFile::exists(dir.path() + "/Updater.exe"));
        QVERIFY(!autoUpdate.isWatching());
        QVERIFY(QFileInfo(strInstalled).isExecutable());
        QCOMPARE(readFile(strInstalled), fakeUpdater("new"));
    }

    void autostartEntry_data()
    {
        QTest::addColumn<QByteArray>("baSwitch");
        QTest::addColumn<int>("nLauncher"); // VEXAPRINTER_LAUNCHER names 0 nothing, 1 a file, 2 a program
        QTest::newRow("window entry") << QByteArray("setPowerBoot") << 0;
        QTest::newRow("window entry, launcher") << QByteArray("setPowerBoot") << 2;
        QTest::newRow("run entry, launcher not executable") << QByteArray("setAutoStart") << 1;
    }
    void autostartEntry()
    {
        QFETCH(QByteArray, baSwitch);
        QFETCH(int, nLauncher);
        const bool bRunEntry = baSwitch == "setAutoStart";
        QTemporaryDir dir;
        const QString strLauncher = dir.path() + "/vexa launcher";
        const QString strSelf = QCoreApplication::applicationFilePath();
        qputenv("VEXAPRINTER_LAUNCHER", nLauncher > 0 ? strLauncher.toLocal8Bit() : QByteArray());
        QVERIFY(nLauncher == 0 || writeFile(strLauncher, "#!/bin/sh\n", nLauncher == 2));
        const QString strFolder = configHome.path() + "/autostart/";
        const QString strEntry = strFolder + QFileInfo(strSelf).baseName() + (bRunEntry ? "-run.desktop" : ".desktop");
        QVERIFY(QMetaObject::invokeMethod(mainApp(), baSwitch, Q_ARG(bool, true)));
        const QString strExec = "\nExec=\"" + (nLauncher == 2 ? strLauncher : strSelf) + "\"\n";
        QVERIFY(readFile(strEntry).contains(strExec.toUtf8()));
        QCOMPARE(QDir(strFolder).entryList(QDir::Files).size(), 1); // each switch its own
        QVERIFY(!bRunEntry || mainApp()->bAutoStart());
        QVERIFY(QMetaObject::invokeMethod(mainApp(), baSwitch, Q_ARG(bool, false)));
        QVERIFY(!QFile::exists(strEntry));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("baText");
        QTest::addColumn<QJsonObject>("objRead"); // empty from a file that is not: reported if asked
        QTest::newRow("a zero byte ends the text") << QByteArray("{\"a\":1}\0{garbage", 16) << QJsonObject{{"a", 1}};
        QTest::newRow("empty") << QByteArray() << QJsonObject();
        QTest::newRow("cut") << QByteArray("{\"a\":") << QJsonObject();
    }
    void read()
    {
        QFETCH(QByteArray, baText);
        QFETCH(QJsonObject, objRead);
        PrinterJson *pStore = mainApp()->store();
        QVERIFY(writeFile(filePath("RoomArea.json"), baText));
        const int nBefore = broken();
        QCOMPARE(pStore->readJsonFile("./RoomArea.json"), objRead);
        QCOMPARE(pStore->readJsonFile("./Missing.json", true), QJsonObject());
        QCOMPARE(broken(), nBefore);
        QCOMPARE(pStore->readJsonFile("./RoomArea.json", true), objRead);
        QCOMPARE(broken(), nBefore + int(objRead.isEmpty() && !baText.isEmpty()));
    }

    // SIGKILLed while rewriting, the file is one whole object.
    void killedWriter()
    {
        const QString strPath = filePath("PrinterConfig.json");
        QVERIFY(QFile::remove(strPath)); // Settings stored above
        for (int nKill = 0; nKill < 8; ++nKill) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"--write-forever", mainApp()->appDir()});
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
    TestApp tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_commands.moc"

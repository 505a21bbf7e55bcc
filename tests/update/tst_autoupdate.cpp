// In the process: the updater watch and install rules, "UpdateConfig", the start-with-the-desktop entries.
#include <QJsonDocument>

#include "common/AppTestMain.h"
#include "common/TestFiles.h"
#include "update/AutoUpdate.h"

namespace {
// The stand-in updater (FakeUpdater.cpp) as a script, its process the shell.
const QByteArray kScriptUpdater = "#!/bin/sh\ndir=$(dirname \"$0\")\necho $$ >>\"$dir/started.log\"\n"
                                  "for n in $(seq 1000); do [ -e \"$dir/hold\" ] && sleep 0.02; done\n";
// Told apart by the tail.
QByteArray fakeUpdater(const QByteArray &baTail) { return readFile(QString(VEXA_FAKE_UPDATER)) + baTail; }
int startCount(const QString &strUpdaterDir) { return readFile(strUpdaterDir + "/started.log").count('\n'); }
}

class TestAutoUpdate : public QObject
{
    Q_OBJECT

    QTemporaryDir configHome;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit()); }

    void updateConfig_data()
    {
        QTest::addColumn<QString>("strStored"); // inside the braces; none: no file
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
    // The updater is started again (and watched) only when the stored device changes.
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
        QVERIFY(writeFile(strHold, "")); // removing the folder lets it go even after a failure
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
        QTest::addColumn<bool>("bRunEntry"); // setAutoStart, else the window's setPowerBoot
        QTest::addColumn<int>("nLauncher");  // what VEXAPRINTER_LAUNCHER names: 0 nothing, 1 a file, 2 a program
        QTest::newRow("window entry") << false << 0;
        QTest::newRow("window entry, launcher") << false << 2;
        QTest::newRow("run entry, launcher not executable") << true << 1;
    }
    void autostartEntry()
    {
        QFETCH(bool, bRunEntry);
        QFETCH(int, nLauncher);
        QTemporaryDir dir;
        const QString strLauncher = dir.path() + "/vexa launcher";
        const QString strSelf = QCoreApplication::applicationFilePath();
        qputenv("VEXAPRINTER_LAUNCHER", nLauncher > 0 ? strLauncher.toLocal8Bit() : QByteArray());
        QVERIFY(nLauncher == 0 || writeFile(strLauncher, "#!/bin/sh\n", nLauncher == 2));
        const QString strFolder = configHome.path() + "/autostart/";
        const QString strEntry = strFolder + QFileInfo(strSelf).baseName() + (bRunEntry ? "-run.desktop" : ".desktop");
        setEntry(bRunEntry, true);
        const QString strExec = "\nExec=\"" + (nLauncher == 2 ? strLauncher : strSelf) + "\"\n";
        QVERIFY(readFile(strEntry).contains(strExec.toUtf8()));
        QCOMPARE(QDir(strFolder).entryList(QDir::Files).size(), 1); // each has its own
        QVERIFY(!bRunEntry || mainApp()->bAutoStart());
        setEntry(bRunEntry, false);
        QVERIFY(!QFile::exists(strEntry));
    }

private:
    static void setEntry(bool bRunEntry, bool bOn)
    {
        if (bRunEntry)
            mainApp()->setAutoStart(bOn);
        else
            mainApp()->setPowerBoot(bOn);
    }
};

VEXA_TEST_MAIN_WITH_APP(TestAutoUpdate)
#include "tst_autoupdate.moc"

// In the process: the updater watch and install rules, "UpdateConfig", the start-with-the-desktop entries.
#include <QJsonDocument>

#include "common/AppTestMain.h"
#include "platform/ProcessList.h"
#include "update/AutoUpdate.h"

namespace {
// The stand-in updater (FakeUpdater.cpp) as a script, its process the shell: notes each start, stays while "hold" exists.
const QByteArray kScriptUpdater = "#!/bin/sh\ndir=$(dirname \"$0\")\necho $$ >>\"$dir/started.log\"\nn=0\n"
                                  "while [ -e \"$dir/hold\" ] && [ $n -lt 1000 ]; do sleep 0.02; n=$((n + 1)); done\n";
QByteArray readAll(const QString &strPath) { QFile file(strPath); return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(); }
bool writeFile(const QString &strPath, const QByteArray &baContent, bool bExecutable = false)
{
    QFile file((QDir().mkpath(QFileInfo(strPath).absolutePath()), strPath));
    return file.open(QIODevice::WriteOnly) && file.write(baContent) == baContent.size()
        && (!bExecutable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}
QByteArray fakeUpdater(const QByteArray &baTail) { return readAll(QStringLiteral(VEXA_FAKE_UPDATER)) + baTail; } // told apart by the tail
int startCount(const QString &strUpdaterDir) { return readAll(strUpdaterDir + "/started.log").count('\n'); }
}

class TestAutoUpdate : public QObject
{
    Q_OBJECT
    QTemporaryDir configHome;
private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit()); }
    void updateConfig_data()
    {
        QTest::addColumn<QString>("strStored"), QTest::addColumn<QString>("strRequest"); // inside the braces; no stored text: no file
        QTest::addColumn<QString>("strExpected"), QTest::addColumn<bool>("bStartsUpdater");
        QTest::newRow("new device starts the updater") << R"("device":"A","version":"1")" << R"("device":"B","version":"2")" << R"("device":"B","version":"2")" << true;
        QTest::newRow("same device") << R"("device":"A","version":"1","shop":7)" << R"("device":"A","version":"2","startTime":"t")" << R"("device":"A","version":"2","startTime":"t","shop":7)" << false;
        QTest::newRow("device 66 is kept") << R"("device":"66","version":"1","startTime":"a")" << R"("device":"B","version":"2","startTime":"t")" << R"("device":"66","version":"1","startTime":"t")" << false;
        QTest::newRow("missing file is not created") << "" << R"("device":"B","startTime":"t")" << "" << false;
    }
    void updateConfig()
    {
        QFETCH(QString, strStored);
        QFETCH(QString, strExpected);
        QFETCH(bool, bStartsUpdater);
        const QString strUpdaterDir = mainApp()->appDir() + "/Updater", strConf = strUpdaterDir + "/Update.conf";
        QTRY_VERIFY(!Platform::isProcessRunning(QStringLiteral("Updater.exe"))); // the previous row's
        QFile::remove(strConf), QFile::remove(strUpdaterDir + "/started.log");
        QVERIFY(writeFile(strUpdaterDir + "/Updater.exe", fakeUpdater(""), true) && (strStored.isEmpty() || writeFile(strConf, "{" + strStored.toUtf8() + "}")));
        QVERIFY((mainApp()->autoUpdate()->onUpdaterTimer(), !mainApp()->autoUpdate()->isWatching())); // settled: a running one is a fresh start
        QFETCH(QString, strRequest);
        QCOMPARE(dispatchAndWait(R"({"Msg":"UpdateConfig",)" + strRequest.toUtf8() + "}"), QStringLiteral("{\"code\":200}"));
        QCOMPARE(QFile::exists(strConf), !strExpected.isEmpty());
        QCOMPARE(QJsonDocument::fromJson(readAll(strConf)).object(), QJsonDocument::fromJson("{" + strExpected.toUtf8() + "}").object());
        QCOMPARE(mainApp()->autoUpdate()->isWatching(), bStartsUpdater);
        QTRY_COMPARE(startCount(strUpdaterDir), bStartsUpdater ? 1 : 0);
    }

    void installAfterExit_data() { QTest::addColumn<bool>("bScript"), QTest::newRow("program") << false, QTest::newRow("script") << true; }
    // "./Updater.exe", then "Updater/Updater.exe-new" (which wins) replace the updater once it has exited.
    void installAfterExit()
    {
        QFETCH(bool, bScript);
        QTemporaryDir dir;
        const QString strUpdaterDir = dir.path() + "/Updater", strInstalled = strUpdaterDir + "/Updater.exe";
        const QString strNew = strInstalled + "-new", strBeside = dir.path() + "/Updater.exe", strHold = strUpdaterDir + "/hold";
        const QByteArray baOld = bScript ? kScriptUpdater : fakeUpdater("old");
        QVERIFY(writeFile(strInstalled, baOld, true) && writeFile(strHold, "")); // the folder's removal lets it go even after a failure
        CAutoUpdate autoUpdate(dir.path(), 0, CAutoUpdate::kAnswerPort, 50);
        autoUpdate.start();
        QTRY_COMPARE(startCount(strUpdaterDir), 1);
        QVERIFY(writeFile(strBeside, fakeUpdater("beside")) && writeFile(strNew, fakeUpdater("new")));
        QVERIFY((autoUpdate.onUpdaterTimer(), autoUpdate.isWatching()));
        QCOMPARE(readAll(strInstalled), baOld);
        QFile::remove(strHold);
        QTRY_VERIFY(!QFile::exists(strNew));
        QVERIFY(!QFile::exists(strBeside) && !autoUpdate.isWatching() && QFileInfo(strInstalled).isExecutable());
        QCOMPARE(readAll(strInstalled), fakeUpdater("new"));
    }

    void autostartEntry_data()
    {
        QTest::addColumn<bool>("bRunEntry"), QTest::addColumn<QString>("strLauncher"); // setAutoStart, else setPowerBoot; what VEXAPRINTER_LAUNCHER names
        QTest::newRow("window entry, no launcher") << false << "";
        QTest::newRow("window entry, launcher") << false << "executable";
        QTest::newRow("run entry, launcher") << true << "executable";
        QTest::newRow("run entry, launcher not executable") << true << "file";
    }
    void autostartEntry()
    {
        QFETCH(bool, bRunEntry);
        QFETCH(QString, strLauncher);
        QTemporaryDir dir;
        const QString strLauncherPath = dir.path() + "/vexa launcher", strSelf = QCoreApplication::applicationFilePath();
        QVERIFY(strLauncher.isEmpty() || writeFile(strLauncherPath, "#!/bin/sh\n", strLauncher == "executable"));
        qputenv("VEXAPRINTER_LAUNCHER", strLauncher.isEmpty() ? QByteArray() : strLauncherPath.toLocal8Bit());
        const QString strBase = configHome.path() + "/autostart/" + QFileInfo(strSelf).baseName(), strEntry = strBase + (bRunEntry ? "-run.desktop" : ".desktop");
        bRunEntry ? mainApp()->setAutoStart(true) : void(mainApp()->setPowerBoot(true));
        QVERIFY(readAll(strEntry).contains("\nExec=\"" + (strLauncher == "executable" ? strLauncherPath : strSelf).toUtf8() + "\"\n"));
        QVERIFY(!QFile::exists(strBase + (bRunEntry ? ".desktop" : "-run.desktop")) && (!bRunEntry || mainApp()->bAutoStart())); // each has its own
        bRunEntry ? mainApp()->setAutoStart(false) : void(mainApp()->setPowerBoot(false));
        QVERIFY(!QFile::exists(strEntry));
    }
};

VEXA_TEST_MAIN_WITH_APP(TestAutoUpdate)
#include "tst_autoupdate.moc"

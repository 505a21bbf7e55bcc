// In the process: the updater watch (with a short interval) and its install rules, the "UpdateConfig"
// command on the updater's settings file, and the application's start-with-the-desktop entries.
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "common/AppTestMain.h"
#include "platform/ProcessList.h"
#include "update/AutoUpdate.h"

namespace {
// The stand-in updater as a script: its executable is the shell, "Updater.exe" its second argument.
const QByteArray kScriptUpdater = "#!/bin/sh\ndir=$(dirname \"$0\")\necho $$ >>\"$dir/started.log\"\nn=0\n"
                                  "while [ -e \"$dir/hold\" ] && [ $n -lt 1000 ]; do sleep 0.02; n=$((n + 1)); done\n";

QByteArray readAll(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &strPath, const QByteArray &baContent, bool bExecutable = false)
{
    QDir().mkpath(QFileInfo(strPath).absolutePath());
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(baContent) == baContent.size()
        && (!bExecutable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

// A copy of the stand-in updater program, told apart from the others by its tail.
QByteArray fakeUpdater(const QByteArray &baTail)
{
    return readAll(QStringLiteral(VEXA_FAKE_UPDATER)) + baTail;
}

int startCount(const QString &strUpdaterDir)
{
    return readAll(strUpdaterDir + QStringLiteral("/started.log")).count('\n');
}
}

class TestAutoUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void updateConfig_data();
    void updateConfig();
    void installAfterExit_data();
    void installAfterExit();
    void autostartEntry_data();
    void autostartEntry();

private:
    QTemporaryDir configHome;
};

void TestAutoUpdate::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
}

void TestAutoUpdate::updateConfig_data()
{
    QTest::addColumn<QString>("strStored"); // empty: no file
    QTest::addColumn<QString>("strRequest");
    QTest::addColumn<QString>("strExpected"); // empty: still no file
    QTest::addColumn<bool>("bStartsUpdater");

    QTest::newRow("changed device starts the updater")
        << R"({"device":"A","version":"1"})" << R"({"Msg":"UpdateConfig","device":"B","version":"2"})"
        << R"({"device":"B","version":"2"})" << true;
    QTest::newRow("same device") << R"({"device":"A","version":"1","shop":7})"
                                 << R"({"Msg":"UpdateConfig","device":"A","version":"2","startTime":"t"})"
                                 << R"({"device":"A","version":"2","startTime":"t","shop":7})" << false;
    QTest::newRow("device 66 is kept") << R"({"device":"66","version":"1","startTime":"a"})"
                                       << R"({"Msg":"UpdateConfig","device":"B","version":"2","startTime":"t"})"
                                       << R"({"device":"66","version":"1","startTime":"t"})" << false;
    QTest::newRow("missing file is not created")
        << "" << R"({"Msg":"UpdateConfig","device":"B","startTime":"t"})" << "" << false;
}

void TestAutoUpdate::updateConfig()
{
    QFETCH(QString, strStored);
    QFETCH(QString, strRequest);
    QFETCH(QString, strExpected);
    QFETCH(bool, bStartsUpdater);
    const QString strUpdaterDir = mainApp()->appDir() + QStringLiteral("/Updater");
    const QString strConf = strUpdaterDir + QStringLiteral("/Update.conf");
    QTRY_VERIFY(!Platform::isProcessRunning(QStringLiteral("Updater.exe"))); // the previous row's
    QFile::remove(strConf);
    QFile::remove(strUpdaterDir + QStringLiteral("/started.log"));
    QVERIFY(writeFile(strUpdaterDir + QStringLiteral("/Updater.exe"), fakeUpdater(""), true));
    QVERIFY(strStored.isEmpty() || writeFile(strConf, strStored.toUtf8()));
    // Settle the application's own watch, so that a running one means a fresh start.
    CAutoUpdate *pAutoUpdate = mainApp()->autoUpdate();
    pAutoUpdate->onUpdaterTimer();
    QVERIFY(!pAutoUpdate->isWatching());

    QCOMPARE(dispatchAndWait(strRequest.toUtf8()), QStringLiteral("{\"code\":200}"));
    QCOMPARE(QFile::exists(strConf), !strExpected.isEmpty());
    QCOMPARE(QJsonDocument::fromJson(readAll(strConf)), QJsonDocument::fromJson(strExpected.toUtf8()));
    QCOMPARE(pAutoUpdate->isWatching(), bStartsUpdater);
    QTRY_COMPARE(startCount(strUpdaterDir), bStartsUpdater ? 1 : 0);
}

void TestAutoUpdate::installAfterExit_data()
{
    QTest::addColumn<bool>("bScript");
    QTest::newRow("program") << false;
    QTest::newRow("script") << true;
}

// "./Updater.exe", then "Updater/Updater.exe-new" (which wins) replace the updater once it has exited.
void TestAutoUpdate::installAfterExit()
{
    QFETCH(bool, bScript);
    QTemporaryDir dir;
    const QString strUpdaterDir = dir.path() + QStringLiteral("/Updater");
    const QString strInstalled = strUpdaterDir + QStringLiteral("/Updater.exe");
    const QString strNew = strInstalled + QStringLiteral("-new");
    const QString strBeside = dir.path() + QStringLiteral("/Updater.exe");
    const QByteArray baOld = bScript ? kScriptUpdater : fakeUpdater("old");
    // Removing the folder (or "hold") at the end lets the stand-in go, even after a failure.
    const QString strHoldFile = strUpdaterDir + QStringLiteral("/hold");
    QVERIFY(writeFile(strInstalled, baOld, true) && writeFile(strHoldFile, ""));
    CAutoUpdate autoUpdate(dir.path(), 0, CAutoUpdate::kAnswerPort, 50);
    autoUpdate.start();
    QTRY_COMPARE(startCount(strUpdaterDir), 1);

    QVERIFY(writeFile(strBeside, fakeUpdater("beside")) && writeFile(strNew, fakeUpdater("new")));
    autoUpdate.onUpdaterTimer();
    QVERIFY(autoUpdate.isWatching());
    QCOMPARE(readAll(strInstalled), baOld);

    QFile::remove(strHoldFile);
    QTRY_VERIFY(!QFile::exists(strNew));
    QVERIFY(!QFile::exists(strBeside) && !autoUpdate.isWatching());
    QCOMPARE(readAll(strInstalled), fakeUpdater("new"));
    QVERIFY(QFileInfo(strInstalled).isExecutable());
}

void TestAutoUpdate::autostartEntry_data()
{
    QTest::addColumn<bool>("bRunEntry"); // setAutoStart, else the window's setPowerBoot
    QTest::addColumn<QString>("strLauncher"); // what VEXAPRINTER_LAUNCHER names

    QTest::newRow("window entry, no launcher") << false << "";
    QTest::newRow("window entry, launcher") << false << "executable";
    QTest::newRow("run entry, launcher") << true << "executable";
    QTest::newRow("run entry, launcher not executable") << true << "file";
}

void TestAutoUpdate::autostartEntry()
{
    QFETCH(bool, bRunEntry);
    QFETCH(QString, strLauncher);
    QTemporaryDir dir;
    const QString strLauncherPath = dir.path() + QStringLiteral("/vexa launcher");
    QVERIFY(strLauncher.isEmpty()
            || writeFile(strLauncherPath, "#!/bin/sh\n", strLauncher == "executable"));
    qputenv("VEXAPRINTER_LAUNCHER", strLauncher.isEmpty() ? QByteArray() : strLauncherPath.toLocal8Bit());
    const QString strProgram =
        strLauncher == "executable" ? strLauncherPath : QCoreApplication::applicationFilePath();
    const QString strBase = configHome.path() + QStringLiteral("/autostart/")
        + QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    const QString strEntry = strBase + (bRunEntry ? "-run.desktop" : ".desktop");

    bRunEntry ? mainApp()->setAutoStart(true) : void(mainApp()->setPowerBoot(true));
    QVERIFY(readAll(strEntry).contains("\nExec=\"" + strProgram.toUtf8() + "\"\n"));
    QVERIFY(!QFile::exists(strBase + (bRunEntry ? ".desktop" : "-run.desktop"))); // each has its own
    QVERIFY(!bRunEntry || mainApp()->bAutoStart());
    bRunEntry ? mainApp()->setAutoStart(false) : void(mainApp()->setPowerBoot(false));
    QVERIFY(!QFile::exists(strEntry));
}

VEXA_TEST_MAIN_WITH_APP(TestAutoUpdate)
#include "tst_autoupdate.moc"

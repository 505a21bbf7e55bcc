// The updater link inside the process: answer text, process list, file install, the watch (with a
// short interval) and the "UpdateConfig" rules on the updater's settings file.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "UpdaterFiles.h"
#include "common/AppTestMain.h"
#include "platform/ProcessList.h"
#include "update/AutoUpdate.h"

namespace {
const int kShortWatchMs = 50;

QJsonObject readJson(const QString &strPath)
{
    return QJsonDocument::fromJson(UpdaterFiles::readAll(strPath)).object();
}
}

class TestAutoUpdate : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void buildAnswer_data();
    void buildAnswer();
    void processRunning();
    void processScanTime();
    void replaceFile_data();
    void replaceFile();
    void watchInstallsOnlyAfterExit_data();
    void watchInstallsOnlyAfterExit();
    void updateConfig_data();
    void updateConfig();

private:
    QString strHoldFile;
};

void TestAutoUpdate::cleanup()
{
    // Never leave a stand-in updater waiting behind a failed test.
    if (!strHoldFile.isEmpty())
        QFile::remove(strHoldFile);
    strHoldFile.clear();
}

void TestAutoUpdate::buildAnswer_data()
{
    QTest::addColumn<QString>("strQuery");
    QTest::addColumn<QString>("strCheck");
    QTest::addColumn<QByteArray>("baAnswer");

    QTest::newRow("close") << "CloseApp" << "123" << QByteArray(R"({"query":"CloseApp","check":"123"})");
    QTest::newRow("no time") << "IsUpdated" << "" << QByteArray(R"({"query":"IsUpdated","check":""})");
    QTest::newRow("not escaped") << "CloseApp" << "a\"b" << QByteArray(R"({"query":"CloseApp","check":"a"b"})");
    QTest::newRow("utf-8") << "CloseApp" << QStringLiteral("时间") << QByteArray("{\"query\":\"CloseApp\",\"check\":\"\xe6\x97\xb6\xe9\x97\xb4\"}");
    const QString strLong(200, QLatin1Char('x'));
    QTest::newRow("cut to 158 bytes") << "CloseApp" << strLong
                                      << QByteArray(R"({"query":"CloseApp","check":")" + QByteArray(200, 'x')).left(158);
}

void TestAutoUpdate::buildAnswer()
{
    QFETCH(QString, strQuery);
    QFETCH(QString, strCheck);
    QFETCH(QByteArray, baAnswer);
    QCOMPARE(CAutoUpdate::buildAnswer(strQuery, strCheck), baAnswer);
}

void TestAutoUpdate::processRunning()
{
    QTemporaryDir dir;
    const QString strExe = dir.path() + QStringLiteral("/Updater.exe");
    QVERIFY(UpdaterFiles::installFake(strExe));
    strHoldFile = dir.path() + QStringLiteral("/hold");
    QVERIFY(UpdaterFiles::writeAll(strHoldFile, QByteArray()));

    QVERIFY(!Platform::isProcessRunning(QStringLiteral("Updater.exe")));
    QProcess fake;
    fake.start(strExe, QStringList());
    QVERIFY(fake.waitForStarted());
    QTRY_COMPARE(UpdaterFiles::startCount(dir.path()), 1);
    QVERIFY(Platform::isProcessRunning(QStringLiteral("Updater.exe")));
    // Exact, case-sensitive image names only.
    QVERIFY(!Platform::isProcessRunning(QStringLiteral("updater.exe")));
    QVERIFY(!Platform::isProcessRunning(QStringLiteral("Updater")));
    QVERIFY(!Platform::isProcessRunning(QStringLiteral("Updater.exe-new")));

    QFile::remove(strHoldFile);
    QVERIFY(fake.waitForFinished());
    QVERIFY(!Platform::isProcessRunning(QStringLiteral("Updater.exe")));
}

// The watch scans /proc on the main thread; it must stay cheap with a busy machine.
void TestAutoUpdate::processScanTime()
{
    const int nChildren = 300;
    QVector<pid_t> vecChildren;
    for (int i = 0; i < nChildren; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sleep", "sleep", "60", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        QVERIFY(pid > 0);
        vecChildren.append(pid);
    }
    const int nProcesses = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size();

    const int nCalls = 20;
    timespec cpuStart{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuStart);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < nCalls; ++i)
        QVERIFY(!Platform::isProcessRunning(QStringLiteral("Updater.exe")));
    const double dPerCallMs = double(timer.nsecsElapsed()) / 1e6 / nCalls;
    timespec cpuEnd{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuEnd);
    const double dCpuPerCallMs =
        ((cpuEnd.tv_sec - cpuStart.tv_sec) * 1e3 + (cpuEnd.tv_nsec - cpuStart.tv_nsec) / 1e6) / nCalls;
    qInfo("isProcessRunning: %.2f ms per call (%.2f ms CPU) with %d processes", dPerCallMs, dCpuPerCallMs,
          nProcesses);

    for (const pid_t pid : vecChildren) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    QVERIFY(nProcesses > nChildren);
    QVERIFY2(dPerCallMs < 50, "a /proc scan should take a few milliseconds");
}

void TestAutoUpdate::replaceFile_data()
{
    QTest::addColumn<QString>("strSourceKind");
    QTest::addColumn<bool>("bDestinationExists");
    QTest::addColumn<bool>("bReplaced");

    QTest::newRow("new install from a non-executable file") << "file" << false << true;
    QTest::newRow("over the installed updater") << "file" << true << true;
    QTest::newRow("no source") << "missing" << true << false;
    QTest::newRow("unreadable source") << "unreadable" << true << false;
    QTest::newRow("destination not writable") << "file" << true << false;
}

void TestAutoUpdate::replaceFile()
{
    QFETCH(QString, strSourceKind);
    QFETCH(bool, bDestinationExists);
    QFETCH(bool, bReplaced);

    QTemporaryDir dir;
    const QString strSource = dir.path() + QStringLiteral("/pending");
    const QString strDestination = dir.path() + QStringLiteral("/Updater/Updater.exe");
    if (strSourceKind == QLatin1String("file"))
        QVERIFY(UpdaterFiles::installFake(strSource, "new", false));
    if (strSourceKind == QLatin1String("unreadable")) // exists, but cannot be opened (even as root)
        QVERIFY(QFile::link(dir.path(), strSource));
    const bool bBlocked = QByteArray(QTest::currentDataTag()).startsWith("destination not writable");
    if (bBlocked)
        QVERIFY(QDir().mkpath(strDestination));
    else if (bDestinationExists)
        QVERIFY(UpdaterFiles::installFake(strDestination, "old"));
    else
        QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/Updater")));

    const QByteArray baBefore = UpdaterFiles::readAll(strDestination);
    CAutoUpdate::replaceFile(strSource, strDestination);

    if (bReplaced) {
        QCOMPARE(UpdaterFiles::readAll(strDestination), UpdaterFiles::fakeBytes("new"));
        QVERIFY(QFileInfo(strDestination).isExecutable());
    } else if (!bBlocked) {
        QCOMPARE(UpdaterFiles::readAll(strDestination), baBefore);
    } else {
        QVERIFY(QFileInfo(strDestination).isDir());
    }
    // No temporary file is left beside the installed updater.
    QCOMPARE(QDir(dir.path() + QStringLiteral("/Updater")).entryList(QDir::Files | QDir::Hidden).size(),
             bBlocked ? 0 : 1);
}

void TestAutoUpdate::watchInstallsOnlyAfterExit_data()
{
    QTest::addColumn<bool>("bScript");
    QTest::newRow("program") << false;
    // Runs as "/bin/sh .../Updater.exe": seen by its second argument, not by its executable.
    QTest::newRow("script") << true;
}

void TestAutoUpdate::watchInstallsOnlyAfterExit()
{
    QFETCH(bool, bScript);
    QTemporaryDir dir;
    const QString strUpdaterDir = dir.path() + QStringLiteral("/Updater");
    const QString strInstalled = strUpdaterDir + QStringLiteral("/Updater.exe");
    const QString strPendingNew = strUpdaterDir + QStringLiteral("/Updater.exe-new");
    const QString strPendingBeside = dir.path() + QStringLiteral("/Updater.exe");
    QVERIFY(bScript ? UpdaterFiles::installFakeScript(strInstalled) : UpdaterFiles::installFake(strInstalled, "old"));
    const QByteArray baOld = UpdaterFiles::readAll(strInstalled);
    strHoldFile = strUpdaterDir + QStringLiteral("/hold");
    QVERIFY(UpdaterFiles::writeAll(strHoldFile, QByteArray()));

    CAutoUpdate autoUpdate(dir.path(), 0, CAutoUpdate::kAnswerPort, kShortWatchMs);
    autoUpdate.start();
    QTRY_COMPARE(UpdaterFiles::startCount(strUpdaterDir), 1);
    QVERIFY(Platform::isProcessRunning(QStringLiteral("Updater.exe")));

    // While the updater runs, the watch only goes on watching.
    QVERIFY(UpdaterFiles::installFake(strPendingBeside, "beside"));
    QVERIFY(UpdaterFiles::installFake(strPendingNew, "new", false));
    for (int i = 0; i < 3; ++i) {
        autoUpdate.onUpdaterTimer();
        QVERIFY(autoUpdate.isWatching());
    }
    QCOMPARE(UpdaterFiles::readAll(strInstalled), baOld);
    QVERIFY(QFile::exists(strPendingNew) && QFile::exists(strPendingBeside));

    // Once it has exited, the next watch installs both in turn: the one beside it wins.
    QFile::remove(strHoldFile);
    QTRY_VERIFY(!QFile::exists(strPendingNew));
    QVERIFY(!QFile::exists(strPendingBeside));
    QVERIFY(!autoUpdate.isWatching());
    QCOMPARE(UpdaterFiles::readAll(strInstalled), UpdaterFiles::fakeBytes("new"));
    QVERIFY(QFileInfo(strInstalled).isExecutable());
    QCOMPARE(UpdaterFiles::startCount(strUpdaterDir), 1);

    // A pending file that cannot be read is dropped all the same.
    QVERIFY(QFile::link(dir.path(), strPendingNew));
    autoUpdate.onUpdaterTimer();
    QVERIFY(!QFileInfo(strPendingNew).isSymLink());
    QCOMPARE(UpdaterFiles::readAll(strInstalled), UpdaterFiles::fakeBytes("new"));

    // The installed copy runs.
    autoUpdate.startUpdater();
    QTRY_COMPARE(UpdaterFiles::startCount(strUpdaterDir), 2);
}

void TestAutoUpdate::updateConfig_data()
{
    QTest::addColumn<QByteArray>("baStored"); // empty: no file
    QTest::addColumn<QByteArray>("baRequest");
    QTest::addColumn<QByteArray>("baExpected"); // empty: still no file
    QTest::addColumn<bool>("bStartsUpdater");

    QTest::newRow("pinned device 66 keeps all but startTime")
        << QByteArray(R"({"device":"66","version":"1","startTime":"a","shop":7})")
        << QByteArray(R"({"Msg":"UpdateConfig","device":"B","version":"2","startTime":"t"})")
        << QByteArray(R"({"device":"66","version":"1","startTime":"t","shop":7})") << false;
    QTest::newRow("same device rewrites without a start")
        << QByteArray(R"({"device":"A","version":"1","shop":7})")
        << QByteArray(R"({"Msg":"UpdateConfig","device":"A","version":"2","startTime":"t"})")
        << QByteArray(R"({"device":"A","version":"2","startTime":"t","shop":7})") << false;
    QTest::newRow("changed device starts the updater")
        << QByteArray(R"({"device":"A","version":"1"})")
        << QByteArray(R"({"Msg":"UpdateConfig","device":"B","version":"2"})")
        << QByteArray(R"({"device":"B","version":"2"})") << true;
    QTest::newRow("version without device is not written")
        << QByteArray(R"({"device":"A","version":"1"})") << QByteArray(R"({"Msg":"UpdateConfig","version":"2"})")
        << QByteArray(R"({"device":"A","version":"1"})") << false;
    QTest::newRow("non-string device reads as empty")
        << QByteArray(R"({"device":"A"})") << QByteArray(R"({"Msg":"UpdateConfig","device":5})")
        << QByteArray(R"({"device":""})") << true;
    QTest::newRow("missing file is not created")
        << QByteArray() << QByteArray(R"({"Msg":"UpdateConfig","device":"B","startTime":"t"})") << QByteArray()
        << false;
    QTest::newRow("empty object is left alone")
        << QByteArray("{}") << QByteArray(R"({"Msg":"UpdateConfig","device":"B","startTime":"t"})")
        << QByteArray("{}") << false;
}

void TestAutoUpdate::updateConfig()
{
    QFETCH(QByteArray, baStored);
    QFETCH(QByteArray, baRequest);
    QFETCH(QByteArray, baExpected);
    QFETCH(bool, bStartsUpdater);

    const QString strUpdaterDir = mainApp()->appDir() + QStringLiteral("/Updater");
    const QString strConf = strUpdaterDir + QStringLiteral("/Update.conf");
    // The previous row's updater may still be exiting: its file cannot be rewritten while it runs.
    QTRY_VERIFY(!Platform::isProcessRunning(QStringLiteral("Updater.exe")));
    QFile::remove(strConf);
    QFile::remove(strUpdaterDir + QStringLiteral("/started.log"));
    QVERIFY(UpdaterFiles::installFake(strUpdaterDir + QStringLiteral("/Updater.exe")));
    if (!baStored.isEmpty())
        QVERIFY(UpdaterFiles::writeAll(strConf, baStored));

    // Settle the application's own watch first, so that a running watch means a fresh start.
    CAutoUpdate *pAutoUpdate = mainApp()->autoUpdate();
    pAutoUpdate->onUpdaterTimer();
    QVERIFY(!pAutoUpdate->isWatching());

    QCOMPARE(dispatchAndWait(baRequest), QStringLiteral("{\"code\":200}"));

    if (baExpected.isEmpty())
        QVERIFY(!QFile::exists(strConf));
    else if (baStored == "{}") // not even rewritten
        QCOMPARE(UpdaterFiles::readAll(strConf), baStored);
    else
        QCOMPARE(readJson(strConf), QJsonDocument::fromJson(baExpected).object());
    QCOMPARE(pAutoUpdate->isWatching(), bStartsUpdater);
    if (bStartsUpdater)
        QTRY_COMPARE(UpdaterFiles::startCount(strUpdaterDir), 1);
}

VEXA_TEST_MAIN_WITH_APP(TestAutoUpdate)
#include "tst_autoupdate.moc"

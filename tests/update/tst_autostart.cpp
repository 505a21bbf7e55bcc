// Start with the desktop: the window's entry (setPowerBoot) and the independent run entry
// (setAutoStart / bAutoStart), written as XDG autostart entries under a private config folder.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "common/AppTestMain.h"
#include "platform/AutoStartEntries.h"

namespace {
QStringList g_lstDebugLines;

void captureMessages(QtMsgType type, const QMessageLogContext &, const QString &strMessage)
{
    if (type == QtDebugMsg)
        g_lstDebugLines.append(strMessage);
}

QByteArray readAll(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}

class TestAutoStart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void execQuoting_data();
    void execQuoting();
    void powerBootEntry();
    void powerBootWithoutConfigHome();
    void powerBootWithoutFolder();
    void runEntry();

private:
    QString powerBootEntry(const QString &strFolder) const;

    QTemporaryDir homeDir;
    QString strConfigHome;
    QString strAutostart;
};

void TestAutoStart::initTestCase()
{
    QVERIFY(homeDir.isValid());
    strConfigHome = homeDir.path() + QStringLiteral("/config");
    strAutostart = strConfigHome + QStringLiteral("/autostart");
    qInstallMessageHandler(captureMessages);
}

void TestAutoStart::init()
{
    qputenv("HOME", homeDir.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", strConfigHome.toLocal8Bit());
    g_lstDebugLines.clear();
}

void TestAutoStart::cleanupTestCase()
{
    qInstallMessageHandler(nullptr);
}

QString TestAutoStart::powerBootEntry(const QString &strFolder) const
{
    return strFolder + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
        + QStringLiteral(".desktop");
}

void TestAutoStart::execQuoting_data()
{
    QTest::addColumn<QString>("strProgram");
    QTest::addColumn<QString>("strExecValue");

    QTest::newRow("plain") << "/opt/vexa/VexaPrinter" << R"("/opt/vexa/VexaPrinter")";
    QTest::newRow("blank") << "/opt/my app/VexaPrinter" << R"("/opt/my app/VexaPrinter")";
    // Exec quoting first (\$ \" \` \\), then the string escape doubles every backslash.
    QTest::newRow("dollar") << "/opt/a$b/x" << R"("/opt/a\\$b/x")";
    QTest::newRow("quote and backtick") << "/o\"p`t/x" << R"("/o\\"p\\`t/x")";
    QTest::newRow("backslash") << "/o\\pt/x" << R"("/o\\\\pt/x")";
    QTest::newRow("percent") << "/opt/100%/x" << R"("/opt/100%%/x")";
    QTest::newRow("line feed") << "/opt/a\nb/x" << R"("/opt/a\nb/x")";
}

void TestAutoStart::execQuoting()
{
    QFETCH(QString, strProgram);
    QFETCH(QString, strExecValue);
    QCOMPARE(Platform::execValueForProgram(strProgram), strExecValue);
    QCOMPARE(Platform::programFromExecValue(strExecValue), strProgram);
}

void TestAutoStart::powerBootEntry()
{
    QSignalSpy spyChanged(mainApp(), &CMainApp::isPowerBootChanged);
    const QString strEntry = powerBootEntry(strAutostart);
    QVERIFY(mainApp()->isPowerBoot());

    // Created (with its folder), then overwritten; already on, so no change signal.
    QVERIFY(mainApp()->setPowerBoot(true));
    const QByteArray baEntry = readAll(strEntry);
    QVERIFY(baEntry.startsWith("[Desktop Entry]\n"));
    QVERIFY(baEntry.contains("\nType=Application\n"));
    QCOMPARE(Platform::autostartEntryTarget(strEntry), QCoreApplication::applicationFilePath());
    QFile::resize(strEntry, 3);
    QVERIFY(mainApp()->setPowerBoot(true));
    QCOMPARE(readAll(strEntry), baEntry);
    QCOMPARE(spyChanged.count(), 0);
    QVERIFY(mainApp()->isPowerBoot());

    QVERIFY(mainApp()->setPowerBoot(false));
    QVERIFY(!QFile::exists(strEntry));
    QCOMPARE(g_lstDebugLines, QStringList{QStringLiteral("Shortcut deleted successfully.")});
    QCOMPARE(spyChanged.count(), 1);
    QVERIFY(!mainApp()->isPowerBoot());

    // Nothing left to delete: no message, no signal.
    QVERIFY(mainApp()->setPowerBoot(false));
    QCOMPARE(g_lstDebugLines.size(), 1);
    QCOMPARE(spyChanged.count(), 1);

    QVERIFY(mainApp()->setPowerBoot(true));
    QCOMPARE(spyChanged.count(), 2);
    QVERIFY(QFile::exists(strEntry));
}

void TestAutoStart::powerBootWithoutConfigHome()
{
    qunsetenv("XDG_CONFIG_HOME");
    const QString strEntry = powerBootEntry(homeDir.path() + QStringLiteral("/.config/autostart"));
    mainApp()->setPowerBoot(true);
    QCOMPARE(Platform::autostartEntryTarget(strEntry), QCoreApplication::applicationFilePath());
    mainApp()->setPowerBoot(false);
    QVERIFY(!QFile::exists(strEntry));
}

void TestAutoStart::powerBootWithoutFolder()
{
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    mainApp()->setPowerBoot(false);
    g_lstDebugLines.clear();
    QSignalSpy spyChanged(mainApp(), &CMainApp::isPowerBootChanged);

    QVERIFY(mainApp()->setPowerBoot(true));
    QCOMPARE(g_lstDebugLines, QStringList{QStringLiteral("无法获取启动文件夹路径")});
    QVERIFY(QDir(QStringLiteral("/autostart")).exists() == false);
    QVERIFY(!QFile::exists(powerBootEntry(QString())));
    // The state still follows the request.
    QCOMPARE(spyChanged.count(), 1);
    QVERIFY(mainApp()->isPowerBoot());
}

void TestAutoStart::runEntry()
{
    const QString strWindowEntry = powerBootEntry(strAutostart);
    mainApp()->setPowerBoot(true);
    const QByteArray baWindowEntry = readAll(strWindowEntry);
    QVERIFY(!mainApp()->bAutoStart());

    mainApp()->setAutoStart(true);
    QVERIFY(mainApp()->bAutoStart());
    const QStringList lstEntries = QDir(strAutostart).entryList(QDir::Files);
    QCOMPARE(lstEntries.size(), 2);
    const QString strRunEntry = strAutostart + QLatin1Char('/')
        + (lstEntries.at(0) == QFileInfo(strWindowEntry).fileName() ? lstEntries.at(1) : lstEntries.at(0));

    // Unchanged path: the entry is not written again.
    QFile marker(strRunEntry);
    QVERIFY(marker.open(QIODevice::Append));
    marker.write("X-Vexa-Marker=1\n");
    marker.close();
    mainApp()->setAutoStart(true);
    QVERIFY(readAll(strRunEntry).contains("X-Vexa-Marker=1"));

    // The executable moved since the entry was written (the entry names its old place).
    QVERIFY(Platform::writeAutostartEntry(strRunEntry, QStringLiteral("/old/place/VexaPrinter"), QStringLiteral("x")));
    QVERIFY(!mainApp()->bAutoStart());
    mainApp()->setAutoStart(true);
    QVERIFY(mainApp()->bAutoStart());

    mainApp()->setAutoStart(false);
    QVERIFY(!mainApp()->bAutoStart());
    QVERIFY(!QFile::exists(strRunEntry));
    // The window's entry is independent.
    QCOMPARE(readAll(strWindowEntry), baWindowEntry);
}

VEXA_TEST_MAIN_WITH_APP(TestAutoStart)
#include "tst_autostart.moc"

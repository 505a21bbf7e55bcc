// The real service on a full filesystem: a write that does not land whole keeps the old file.
#include <QtTest>

#include "common/ServiceInstance.h"
#include "common/TestFiles.h"

// The application directory is a filled-up 1 MiB tmpfs in a mount namespace of its own, the logs bound to
// the test's: without inodes the temporary file cannot be made, without blocks it takes no byte, with
// 8 KiB left a write is short. Arguments: the folder, the logs, the executable, the kind of fill.
static const char kScript[] = R"(set -e
mkdir "$1"
mount -t tmpfs -o size=1m,nr_inodes=64 tmpfs "$1"
cd "$1"
touch VexaPrinter
mount --bind "$3" VexaPrinter
mkdir logs
mount --bind "$2" logs
echo '{"data":[{"Name":"old"}]}' > PrinterConfig.json
dd if=/dev/zero of=spare bs=4k count=2 2>/dev/null
dd if=/dev/zero of=fill bs=4k 2>/dev/null || true
if [ "$4" = partial ]; then rm spare; fi
i=0
if [ "$4" = inodes ]; then while touch f$i 2>/dev/null; do i=$((i + 1)); done; fi
exec ./VexaPrinter)";

class TestReliabilityService : public QObject
{
    Q_OBJECT

private slots:
    void fullFilesystem_data()
    {
        QTest::addColumn<QString>("strFill");
        QTest::newRow("inodes") << "inodes";
        QTest::newRow("blocks") << "blocks";
        QTest::newRow("partial") << "partial";
    }
    // Refused with the store's line; the service goes on answering.
    void fullFilesystem()
    {
        QFETCH(QString, strFill);
        QTemporaryDir dirLogs;
        const QString strApp = dirLogs.filePath("app");
        const QByteArray baEntries = QByteArray(R"({"Name":"Printer","Width":80},)").repeated(300) + "{}]}";
        QProcess proc; // its end kills the service
        const QStringList lstArgs = {"sh", strApp, dirLogs.path(), qEnvironmentVariable("VEXA_BIN"), strFill};
        proc.start("unshare", QStringList{"--mount", "--propagation", "private", "sh", "-c", kScript}
                                                  + lstArgs);
        QTRY_VERIFY_WITH_TIMEOUT(!postCommand(R"({"Msg":"InfoData"})", 500).isEmpty(), 15000);
        QCOMPARE(postCommand(R"({"Msg":"Settings","data":[)" + baEntries), QByteArray("{\"code\":0}"));
        QCOMPARE(postCommand(R"({"Msg":"SetRoomArea","rooms":[)" + baEntries), QByteArray("{\"code\":0}"));
        const QDir logs(dirLogs.path());
        const auto logged = [&] { return readFile(logs.filePath(logs.entryList(QDir::Files).value(0))); };
        QTRY_VERIFY_WITH_TIMEOUT(logged().contains("打印机配置写失败,./PrinterConfig.json"), 5000);
        const QString strInside = QString("/proc/%1/root%2/").arg(proc.processId()).arg(strApp);
        QCOMPARE(readFile(strInside + "PrinterConfig.json"), QByteArray("{\"data\":[{\"Name\":\"old\"}]}\n"));
        QVERIFY(!QFile::exists(strInside + "RoomArea.json"));
        QCOMPARE(postCommand(R"({"Msg":"InfoData"})"), QByteArray("{\"code\":180,\"data\":[]}"));
    }
};

QTEST_GUILESS_MAIN(TestReliabilityService)
#include "tst_reliability_service.moc"

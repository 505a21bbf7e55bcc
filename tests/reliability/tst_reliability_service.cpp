// The real service under faults: killed in the middle of configuration writes, and a full filesystem.
#include <QJsonDocument>
#include <QtTest>

#include "common/ServiceInstance.h"

static QByteArray body(bool bRooms)
{
    return (bRooms ? "{\"Msg\":\"SetRoomArea\",\"rooms\":[" : "{\"Msg\":\"Settings\",\"data\":[") + QByteArray("{\"Name\":\"Printer\",\"Width\":80},").repeated(300) + "{}]}";
}
static QByteArray readFile(const QString &strPath) { QFile file(strPath); return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(); }

class TestReliabilityService : public QObject
{
    Q_OBJECT
private slots:
    // Each round pipelines Settings and SetRoomArea (300 entries, so that a kill lands inside a write now and then) and
    // kills the service after a different number of replies; every JSON file left parses, and the next start serves the area.
    void killDuringWritesLeavesWholeFiles()
    {
        const QByteArray baBatch = (buildPost(body(false)) + buildPost(body(true))).repeated(30);
        ServiceInstance service;
        for (int nRound = 0; nRound < 6; ++nRound) {
            QVERIFY(service.start());
            httpExchange(baBatch, 3 + nRound * 7);
            service.kill();
            for (const QString &strPath : {service.dir() + "/PrinterConfig.json", service.dir() + "/RoomArea.json"})
                QVERIFY2(!QFile::exists(strPath) || QJsonDocument::fromJson(readFile(strPath)).isObject(), qPrintable(strPath));
        }
        QVERIFY(service.start() && QJsonDocument::fromJson(postCommand("{\"Msg\":\"GetRoomArea\"}")).isObject());
    }

    void fullFilesystem_data() { QTest::addColumn<QString>("strFill"); for (const char *pFill : {"inodes", "blocks", "partial"}) QTest::newRow(pFill) << pFill; }
    // The application directory is a filled-up 1 MiB tmpfs in the service's own mount namespace, its logs bound to the test's:
    // without inodes the temporary file cannot be opened, without blocks it takes no byte, with 8 KiB left a write is short.
    // A write that does not land whole is refused with the store's line, the old file stays, and the service goes on answering.
    void fullFilesystem()
    {
        QFETCH(QString, strFill);
        QTemporaryDir dirTest;
        const QString strApp = dirTest.filePath(QStringLiteral("app")), strLogs = dirTest.path();
        const QByteArray baOld = "{\"Msg\":\"Settings\",\"data\":[{\"Name\":\"old\"}]}";
        const QString strScript = QStringLiteral(
            "set -e; mkdir \"$1\"; mount -t tmpfs -o size=1m,nr_inodes=64 tmpfs \"$1\"; cd \"$1\"; touch VexaPrinter; mount --bind \"$3\" VexaPrinter;"
            "mkdir logs; mount --bind \"$2\" logs; printf '%s' '%5' > PrinterConfig.json; dd if=/dev/zero of=spare bs=4k count=2 2>/dev/null;"
            "dd if=/dev/zero of=fill bs=4k 2>/dev/null || true; if [ \"$4\" = partial ]; then rm spare; fi;"
            "if [ \"$4\" = inodes ]; then i=0; while touch f$i 2>/dev/null; do i=$((i+1)); done; fi; exec ./VexaPrinter").replace("%5", baOld);
        QProcess proc; // its end kills the service
        proc.start(QStringLiteral("unshare"), {"--mount", "--propagation", "private", "sh", "-c", strScript, "sh", strApp, strLogs, qEnvironmentVariable("VEXA_BIN"), strFill});
        QTRY_VERIFY_WITH_TIMEOUT(!postCommand("{\"Msg\":\"InfoData\"}", 500).isEmpty(), 15000);
        const QString strInside = QStringLiteral("/proc/%1/root%2/").arg(proc.processId()).arg(strApp);
        QCOMPARE(postCommand(body(false)) + postCommand(body(true)), QByteArray("{\"code\":0}{\"code\":0}"));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(strLogs + '/' + QDir(strLogs).entryList(QDir::Files).value(0)).contains("打印机配置写失败,./PrinterConfig.json"), 5000);
        QVERIFY(readFile(strInside + "PrinterConfig.json") == baOld && !QFile::exists(strInside + "RoomArea.json"));
        QCOMPARE(postCommand("{\"Msg\":\"InfoData\"}"), QByteArray("{\"code\":180,\"data\":[]}"));
    }
};

QTEST_GUILESS_MAIN(TestReliabilityService)
#include "tst_reliability_service.moc"

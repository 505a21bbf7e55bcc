// The real service under faults: killed in the middle of configuration writes, and an application
// directory on a full filesystem.
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "common/ServiceInstance.h"

// 200 printers or 500 rooms, so that a kill lands inside a write now and then.
static QByteArray body(bool bRooms, int nRound)
{
    QStringList lst;
    for (int i = 0; i < (bRooms ? 500 : 200); ++i)
        lst << (bRooms ? QStringLiteral("\"R%1-%2\"") : QStringLiteral("{\"Name\":\"Printer %1-%2\",\"Width\":80,\"PrinterLeft\":%2}")).arg(nRound).arg(i);
    return (bRooms ? "{\"Msg\":\"SetRoomArea\",\"rooms\":[" : "{\"Msg\":\"Settings\",\"data\":[") + lst.join(',').toUtf8() + "]}";
}
static QByteArray readFile(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TestReliabilityService : public QObject
{
    Q_OBJECT
private slots:
    // Each round streams alternating "Settings" and "SetRoomArea" requests and kills the service after a
    // different number of replies; every JSON file left behind parses, and the next start serves the area.
    void killDuringWritesLeavesWholeFiles()
    {
        ServiceInstance service;
        for (int nRound = 0; nRound < 6; ++nRound) {
            QVERIFY(service.start());
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
            QVERIFY(socket.waitForConnected(5000));
            for (int i = 0; i < 60; ++i)
                socket.write(buildPost(body(i % 2, nRound * 100 + i)));
            QByteArray baReplies;
            while (replyBodies(baReplies).size() < 3 + nRound * 7 && socket.waitForReadyRead(5000))
                baReplies += socket.readAll();
            service.kill();
            for (const QString &strPath : {service.dir() + "/PrinterConfig.json", service.dir() + "/RoomArea.json"})
                QVERIFY2(!QFile::exists(strPath) || QJsonDocument::fromJson(readFile(strPath)).isObject(), qPrintable(strPath));
        }
        QVERIFY(service.start());
        QVERIFY(QJsonDocument::fromJson(postCommand("{\"Msg\":\"GetRoomArea\"}")).isObject());
    }

    void fullFilesystem_data()
    {
        QTest::addColumn<QString>("strFill");
        QTest::newRow("no inodes") << QStringLiteral("inodes"); // the temporary file cannot even be opened
        QTest::newRow("no blocks") << QStringLiteral("blocks"); // it opens but takes no byte
        QTest::newRow("8 KiB left") << QStringLiteral("partial"); // a short write without an error
    }
    // The application directory is a filled-up 1 MiB tmpfs in a mount namespace of the service's own, its
    // log directory bound to one of the test. A write that does not land whole is refused with the store's
    // log line, the old file stays as it was, and the service goes on answering.
    void fullFilesystem()
    {
        QFETCH(QString, strFill);
        QTemporaryDir dirTest;
        const QString strApp = dirTest.filePath(QStringLiteral("app")), strLogs = dirTest.filePath(QStringLiteral("logs"));
        const QByteArray baOld = "{\"Msg\":\"Settings\",\"data\":[{\"Name\":\"old\"}]}";
        QVERIFY(QDir().mkpath(strApp) && QDir().mkpath(strLogs));
        const QString strScript = QStringLiteral(
            "set -e; mount -t tmpfs -o size=1m,nr_inodes=64 tmpfs \"$1\"; cd \"$1\"; touch VexaPrinter; mount --bind \"$3\" VexaPrinter;"
            "mkdir logs; mount --bind \"$2\" logs; printf '%s' '%5' > PrinterConfig.json; dd if=/dev/zero of=spare bs=4k count=2 2>/dev/null;"
            "dd if=/dev/zero of=fill bs=4k 2>/dev/null || true; if [ \"$4\" = partial ]; then rm spare; fi;"
            "if [ \"$4\" = inodes ]; then i=0; while touch f$i 2>/dev/null; do i=$((i+1)); done; fi; exec ./VexaPrinter").replace("%5", baOld);
        QProcess proc;
        proc.setProcessChannelMode(QProcess::ForwardedChannels);
        proc.start(QStringLiteral("unshare"), {"--mount", "--propagation", "private", "sh", "-c", strScript, "sh", strApp, strLogs,
                                               qEnvironmentVariable("VEXA_BIN"), strFill});
        QTRY_VERIFY_WITH_TIMEOUT(!postCommand("{\"Msg\":\"InfoData\"}", 500).isEmpty(), 15000);
        const QString strInside = QStringLiteral("/proc/%1/root%2/").arg(proc.processId()).arg(strApp);
        QCOMPARE(postCommand(body(false, 1)), QByteArray("{\"code\":0}"));
        auto logText = [&] {
            const QStringList lstFiles = QDir(strLogs).entryList(QDir::Files);
            return lstFiles.size() == 1 ? readFile(strLogs + '/' + lstFiles.first()) : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("打印机配置写失败,./PrinterConfig.json"), 5000);
        QCOMPARE(readFile(strInside + QStringLiteral("PrinterConfig.json")), baOld);
        QCOMPARE(postCommand(body(true, 1)), QByteArray("{\"code\":0}"));
        QVERIFY(!QFile::exists(strInside + QStringLiteral("RoomArea.json")));
        QCOMPARE(postCommand("{\"Msg\":\"InfoData\"}"), QByteArray("{\"code\":180,\"data\":[]}"));
        proc.kill();
        proc.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestReliabilityService)
#include "tst_reliability_service.moc"

// The real service under faults: killed in the middle of configuration writes, an application
// directory on a full filesystem, and a flood of garbage datagrams on its UDP ports.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"

namespace {
const QByteArray kInfoData = QByteArrayLiteral("{\"Msg\":\"InfoData\"}");

bool parsesAsObject(const QString &strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    return error.error == QJsonParseError::NoError && document.isObject();
}

QByteArray settingsBody(int nRound)
{
    QJsonArray arrEntries;
    for (int i = 0; i < 200; ++i)
        arrEntries.append(QJsonObject{{QStringLiteral("Name"), QStringLiteral("Printer %1-%2").arg(nRound).arg(i)},
                                      {QStringLiteral("Width"), 80},
                                      {QStringLiteral("PrinterLeft"), i}});
    return QJsonDocument(QJsonObject{{QStringLiteral("Msg"), QStringLiteral("Settings")},
                                     {QStringLiteral("data"), arrEntries}})
        .toJson(QJsonDocument::Compact);
}

QByteArray roomAreaBody(int nRound)
{
    QJsonArray arrRooms;
    for (int i = 0; i < 500; ++i)
        arrRooms.append(QStringLiteral("R%1-%2").arg(nRound).arg(i));
    return QJsonDocument(QJsonObject{{QStringLiteral("Msg"), QStringLiteral("SetRoomArea")},
                                     {QStringLiteral("rooms"), arrRooms}})
        .toJson(QJsonDocument::Compact);
}

bool waitForPort(QProcess &proc, int nTimeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nTimeoutMs && proc.state() != QProcess::NotRunning) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}
}

class TestReliabilityService : public QObject
{
    Q_OBJECT
private slots:
    void killDuringWritesLeavesWholeFiles();
    void fullFilesystem_data();
    void fullFilesystem();
    void garbageDatagramFlood();
};

// Each round streams alternating "Settings" and "SetRoomArea" requests and kills the service
// after a different number of replies; every JSON file left behind must parse, and the next start
// must come up and serve the stored area.
void TestReliabilityService::killDuringWritesLeavesWholeFiles()
{
    ServiceInstance service;
    for (int nRound = 0; nRound < 6; ++nRound) {
        QVERIFY(service.start());
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        QVERIFY(socket.waitForConnected(5000));
        QByteArray baStream;
        for (int i = 0; i < 60; ++i)
            baStream += buildPost(i % 2 ? roomAreaBody(nRound * 100 + i) : settingsBody(nRound * 100 + i));
        socket.write(baStream);
        QByteArray baReplies;
        while (replyBodies(baReplies).size() < 3 + nRound * 7 && socket.waitForReadyRead(5000))
            baReplies += socket.readAll();
        service.kill();
        for (const QString &strName : {QStringLiteral("PrinterConfig.json"), QStringLiteral("RoomArea.json")}) {
            const QString strPath = service.dir() + QLatin1Char('/') + strName;
            QVERIFY2(!QFile::exists(strPath) || parsesAsObject(strPath), qPrintable(strPath));
        }
    }
    QVERIFY(service.start());
    QVERIFY(QJsonDocument::fromJson(postCommand("{\"Msg\":\"GetRoomArea\"}")).isObject());
}

void TestReliabilityService::fullFilesystem_data()
{
    QTest::addColumn<QString>("strFill");
    // No inode left: the store cannot even open its temporary file.
    QTest::newRow("no inodes") << QStringLiteral("inodes");
    // Inodes left, no blocks: the temporary file opens but takes no byte.
    QTest::newRow("no blocks") << QStringLiteral("blocks");
    // 8 KiB left: the first part of the new text lands, the rest does not (a short write, no error).
    QTest::newRow("8 KiB left") << QStringLiteral("partial");
}

// The application directory is a 1 MiB tmpfs, filled up, in a mount namespace of the service's own;
// its log directory is bound to a directory of the test so the log lines can be read. Every write
// that does not land whole is refused with the store's log line, and the old file stays as it was.
void TestReliabilityService::fullFilesystem()
{
    QFETCH(QString, strFill);
    QTemporaryDir dirTest;
    const QString strApp = dirTest.filePath(QStringLiteral("app"));
    const QString strLogs = dirTest.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkpath(strApp) && QDir().mkpath(strLogs));
    const QString strScript = QStringLiteral(
        "set -e; APP=$1; mount -t tmpfs -o size=1m,nr_inodes=64 tmpfs \"$APP\"; cd \"$APP\";"
        "touch VexaPrinter; mount --bind \"$3\" VexaPrinter; mkdir logs; mount --bind \"$2\" logs;"
        "printf '{\"Msg\":\"Settings\",\"data\":[{\"Name\":\"old\"}]}' > PrinterConfig.json;"
        "dd if=/dev/zero of=spare bs=4k count=2 2>/dev/null;"
        "dd if=/dev/zero of=fill bs=4k 2>/dev/null || true;"
        "if [ \"$4\" = partial ]; then rm spare; fi;"
        "if [ \"$4\" = inodes ]; then i=0; while touch f$i 2>/dev/null; do i=$((i+1)); done; fi;"
        "exec ./VexaPrinter");
    QProcess proc;
    proc.setProcessChannelMode(QProcess::ForwardedChannels);
    proc.start(QStringLiteral("unshare"), {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                                           QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                                           strScript, QStringLiteral("sh"), strApp, strLogs,
                                           qEnvironmentVariable("VEXA_BIN"), strFill});
    QVERIFY(proc.waitForStarted(5000));
    QVERIFY(waitForPort(proc, 15000));
    const QString strInside = QStringLiteral("/proc/%1/root%2/").arg(proc.processId()).arg(strApp);

    QCOMPARE(postCommand(settingsBody(1)), QByteArray("{\"code\":0}"));
    QTRY_VERIFY_WITH_TIMEOUT(QDir(strLogs).entryList(QDir::Files).size() == 1, 5000);
    const QString strLogFile = strLogs + QLatin1Char('/') + QDir(strLogs).entryList(QDir::Files).first();
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        QFile file(strLogFile);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("打印机配置写失败,./PrinterConfig.json");
    }(), 5000);
    QFile fileConfig(strInside + QStringLiteral("PrinterConfig.json"));
    QVERIFY(fileConfig.open(QIODevice::ReadOnly));
    QCOMPARE(fileConfig.readAll(), QByteArray("{\"Msg\":\"Settings\",\"data\":[{\"Name\":\"old\"}]}"));
    QCOMPARE(postCommand(roomAreaBody(1)), QByteArray("{\"code\":0}"));
    QCOMPARE(QFile::exists(strInside + QStringLiteral("RoomArea.json")), false);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(postCommand(kInfoData), QByteArray("{\"code\":180,\"data\":[]}"));
    QCOMPARE(proc.state(), QProcess::Running);
    proc.kill();
    proc.waitForFinished(5000);
}

// Random datagrams at the set-top-box port and the updater port while HTTP requests go on; none may
// carry a real updater query, which would legitimately close the service.
void TestReliabilityService::garbageDatagramFlood()
{
    ServiceInstance service;
    QVERIFY(service.start());
    const QByteArray baExpected = postCommand(kInfoData);
    QVERIFY(!baExpected.isEmpty());
    QUdpSocket sender;
    QRandomGenerator random(7);
    const QList<QByteArray> lstShapes = {"{\"query\":\"Ping\"}", "{\"ip\":1}", "{", "[]", "{\"query\":null}"};
    for (int nBurst = 0; nBurst < 40; ++nBurst) {
        for (int i = 0; i < 100; ++i) {
            QByteArray baDatagram(int(random.bounded(1400)), Qt::Uninitialized);
            for (char &c : baDatagram)
                c = char(random.bounded(256));
            if (i % 10 == 0)
                baDatagram = lstShapes.at(i / 10 % lstShapes.size()) + baDatagram.left(i);
            if (baDatagram.contains("IsUpdated") || baDatagram.contains("CloseApp"))
                continue;
            for (quint16 nPort : {quint16(19262), quint16(19682)})
                sender.writeDatagram(baDatagram, QHostAddress::LocalHost, nPort);
        }
        QCOMPARE(postCommand(kInfoData), baExpected);
    }
    QCOMPARE(service.process().state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestReliabilityService)
#include "tst_reliability_service.moc"

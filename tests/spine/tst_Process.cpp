// The real executable (messenger, updater link, one instance, full filesystem); the log channels alone.
#include <QtNetwork>
#include <QtTest>

#include <thread>

#include "common/ServiceInstance.h"
#include "common/TestFiles.h"
#include "log/Log.h"
#include "update/AutoUpdate.h"

// "creator-pid attach-count" of each marker in this IPC namespace.
static QStringList markers()
{
    QStringList lstMarkers;
    for (const QByteArray &baLine : readFile("/proc/sysvipc/shm").split('\n').mid(1)) {
        const QList<QByteArray> lstFields = baLine.simplified().split(' ');
        if (lstFields.size() > 6 && lstFields.at(3) == "1")
            lstMarkers << QString::fromLatin1(lstFields.at(4) + ' ' + lstFields.at(6));
    }
    return lstMarkers;
}

static QStringList held(ServiceInstance &holder, int nAttached)
{
    return {QString("%1 %2").arg(holder.proc.processId()).arg(nAttached)};
}

// The application folder: a full tmpfs (no inodes, no blocks, or 8 KiB for a short write), the logs bound to
// the test's. Arguments: folder, logs, executable, kind of fill.
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

class TestProcess : public QObject
{
    Q_OBJECT

    QTemporaryDir tmpDir;

    QStringList fileLines() const { return readLog(tmpDir.path()).split('\n', Qt::SkipEmptyParts); }
    static bool matches(const QString &strLine, const QString &strRest)
    {
        const QString strStamp = "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ";
        return QRegularExpression(strStamp + strRest + '$').match(strLine).hasMatch();
    }

private slots:
    void init() // for the log channels
    {
        QDir(tmpDir.path() + "/logs").removeRecursively();
        CBackupFiles::initLogDir(tmpDir.path());
    }

    void messenger_data()
    {
        QTest::addColumn<QString>("strArg");
        QTest::newRow("quit") << "quit";
        QTest::newRow("within a word") << "noquit";
    }
    // An argument containing "quit" sends two close requests and starts no service.
    void messenger()
    {
        QFETCH(QString, strArg);
        QUdpSocket updater;
        QVERIFY(updater.bind(QHostAddress::LocalHost, CAutoUpdate::kListenPort));
        ServiceInstance messenger;
        QCOMPARE(runToEnd(messenger.executable(), {strArg}), 0);
        QList<QByteArray> lstDatagrams;
        while (updater.hasPendingDatagrams() || updater.waitForReadyRead(200))
            lstDatagrams << updater.receiveDatagram().data();
        QCOMPARE(lstDatagrams, QList<QByteArray>({"{\"query\":\"IsUpdated\"}", "{\"query\":\"IsUpdated\"}"}));
        QVERIFY(markers().isEmpty());
        QCOMPARE(QDir(messenger.dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList("VexaPrinter"));
    }

    void closeRequest_data()
    {
        QTest::addColumn<QList<QByteArray>>("lstRequests");
        QTest::addColumn<QByteArray>("baAnswer");
        // The last request is the messenger's.
        QTest::newRow("others unanswered, the last time is sent")
            << QList<QByteArray>{R"({"query":"Hi","time":"7"})", R"({"query":"closeapp","time":"5"})", "no json",
                                 R"({"query":"IsUpdated"})"}
            << CAutoUpdate::buildAnswer("IsUpdated", "");
        const QByteArray baTime(200, 'x');
        QTest::newRow("CloseApp echoes its time, cut")
            << QList<QByteArray>{"{\"query\":\"CloseApp\",\"time\":\"" + baTime + "\"}"}
            << CAutoUpdate::buildAnswer("CloseApp", baTime);
    }
    // Answered twice, then the service exits.
    void closeRequest()
    {
        QFETCH(QList<QByteArray>, lstRequests);
        QFETCH(QByteArray, baAnswer);
        QVERIFY(baAnswer.size() <= CAutoUpdate::kMaxAnswerBytes);
        QUdpSocket answers;
        QVERIFY(answers.bind(QHostAddress::LocalHost, CAutoUpdate::kAnswerPort));
        ServiceInstance service;
        QVERIFY(service.start());
        for (const QByteArray &baRequest : lstRequests)
            QVERIFY(answers.writeDatagram(baRequest, QHostAddress::LocalHost, CAutoUpdate::kListenPort) > 0);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(answers.hasPendingDatagrams() || answers.waitForReadyRead(5000));
            QCOMPARE(answers.receiveDatagram().data(), baAnswer);
        }
        QVERIFY(service.proc.waitForFinished(10000));
        QCOMPARE(service.proc.exitCode(), 0); // a crash's is its signal
        QVERIFY(!answers.hasPendingDatagrams() && !answers.waitForReadyRead(200));
    }

    // A second start exits with 0; a SIGKILL leaves the marker (made a little after the HTTP port opens)
    // unattached, and the next start clears it. "QUIT" is no quit request.
    void oneInstance()
    {
        ServiceInstance second;
        ServiceInstance holders[2];
        for (ServiceInstance &holder : holders) {
            QVERIFY(holder.start({"QUIT"}));
            QTRY_COMPARE_WITH_TIMEOUT(markers(), held(holder, 1), 10000);
            QCOMPARE(runToEnd(second.executable(), {}), 0);
            QCOMPARE(holder.proc.state(), QProcess::Running);
            QCOMPARE(markers(), held(holder, 1));
            const QStringList lstLeft = held(holder, 0);
            holder.kill();
            QCOMPARE(markers(), lstLeft);
        }
    }

    void fullFilesystem_data()
    {
        QTest::addColumn<QString>("strFill");
        QTest::newRow("inodes") << "inodes";
        QTest::newRow("blocks") << "blocks";
        QTest::newRow("partial") << "partial";
    }
    // Answered 0 with the store's line; the service goes on.
    void fullFilesystem()
    {
        QFETCH(QString, strFill);
        QTemporaryDir dirLogs;
        const QString strApp = dirLogs.filePath("app");
        const QByteArray baEntries = QByteArray(R"({"Name":"Printer","Width":80},)").repeated(300) + "{}]}";
        const QStringList lstArgs = {"--mount", "--propagation", "private", "sh", "-c", kScript, "sh", strApp,
                                     dirLogs.path(), qEnvironmentVariable("VEXA_BIN"), strFill};
        QProcess proc; // its end kills the service
        proc.start("unshare", lstArgs);
        QTRY_VERIFY_WITH_TIMEOUT(!postCommand(R"({"Msg":"InfoData"})", 500).isEmpty(), 15000);
        QCOMPARE(postCommand(R"({"Msg":"Settings","data":[)" + baEntries), QByteArray("{\"code\":0}"));
        QCOMPARE(postCommand(R"({"Msg":"SetRoomArea","rooms":[)" + baEntries), QByteArray("{\"code\":0}"));
        const QDir logs(dirLogs.path());
        const auto logged = [&] { return readFile(logs.filePath(logs.entryList(QDir::Files).value(0))); };
        QTRY_VERIFY(logged().contains("打印机配置写失败,./PrinterConfig.json"));
        const QString strInside = QString("/proc/%1/root%2/").arg(proc.processId()).arg(strApp);
        QCOMPARE(readFile(strInside + "PrinterConfig.json"), QByteArray("{\"data\":[{\"Name\":\"old\"}]}\n"));
        QVERIFY(!QFile::exists(strInside + "RoomArea.json"));
        QCOMPARE(postCommand(R"({"Msg":"InfoData"})"), QByteArray("{\"code\":180,\"data\":[]}"));
    }

    // Whole lines in order, with this file and line; a "%1" in the text stays.
    void twoThreads()
    {
        CBackupFiles channel("PrinterLog");
        channel.start(QThread::IdlePriority);
        auto writer = [&channel](char cTag) {
            for (int i = 0; i < 1000; ++i)
                WRITE_LOG(channel, QString("线程%1 %2 %3").arg(cTag).arg(i).arg("%1"));
        };
        const int nLine = __LINE__ - 2;
        std::thread threadA(writer, 'A');
        std::thread threadB(writer, 'B');
        threadA.join();
        threadB.join();
        QTRY_COMPARE(fileLines().size(), 2000);
        QMap<QString, int> mapNext;
        for (const QString &strLine : fileLines()) {
            const int nNext = mapNext[strLine.mid(24, 1)]++;
            const QString strRest = QString("线程[AB] %1 %[1] \\(tst_Process\\.cpp:%2\\)").arg(nNext).arg(nLine);
            QVERIFY2(matches(strLine, strRest), qPrintable(strLine));
        }
    }

    // Seven days old is kept, a second more is not; only this channel's log files go.
    void retention()
    {
        const qint64 llNow = QDateTime::currentSecsSinceEpoch();
        const QMap<QString, qint64> mapAges{{"PrinterLog_2026-11-29.log", 604800},
                                            {"PrinterLog_2026-11-28.log", 604801},
                                            {"VodLog_2025-01-01.log", 99999999},
                                            {"PrinterLog_old.txt", 99999999}};
        for (auto it = mapAges.cbegin(); it != mapAges.cend(); ++it) {
            QFile file(tmpDir.path() + "/logs/" + it.key());
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(llNow - it.value()), QFile::FileModificationTime));
        }
        CBackupFiles("PrinterLog").removeOldLogs(QDateTime::fromSecsSinceEpoch(llNow));
        const QStringList lstKept = {"PrinterLog_2026-11-29.log", "PrinterLog_old.txt", "VodLog_2025-01-01.log"};
        QCOMPARE(QDir(tmpDir.path() + "/logs").entryList(QDir::Files), lstKept);
    }

    // A lagging writer's queue is bounded; what did not fit is reported in one line.
    void boundedQueue()
    {
        const QString strLine = QString(99, 'x') + '\n'; // 200 bytes
        CBackupFiles channel("PrinterLog", 1000);
        for (int i = 0; i < 8; ++i)
            channel.writeLog(strLine);
        QCOMPARE(channel.pendingCount(), 5);
        channel.start(QThread::IdlePriority);
        QTRY_COMPARE(fileLines().size(), 6);
        channel.writeLog(strLine); // drained: taken again, nothing more to report
        QTRY_COMPARE(fileLines().size(), 7);
        QStringList lstLines = fileLines();
        const QString strDrop = lstLines.takeAt(5);
        QVERIFY2(matches(strDrop, "日志队列已满，丢弃3行日志 \\(\\w+\\.cpp:\\d+\\)"), qPrintable(strDrop));
        QCOMPARE(lstLines, QStringList(QVector<QString>(6, strLine.trimmed()).toList()));
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"

// The real executable: the "quit" messenger, the updater link's close request, and one instance at a
// time, also after a SIGKILL. The holder's marker, a one-byte System V segment, appears a little after
// its HTTP port opens.
#include <QtNetwork>
#include <QtTest>

#include "common/ServiceInstance.h"
#include "common/TestFiles.h"
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
    return {QString("%1 %2").arg(holder.process().processId()).arg(nAttached)};
}

class TestProcess : public QObject
{
    Q_OBJECT

private slots:
    void messenger_data()
    {
        QTest::addColumn<QString>("strArg");
        QTest::newRow("quit") << "quit";
        QTest::newRow("within a word") << "noquit";
        QTest::newRow("as an option") << "-quit";
    }
    // An argument containing "quit" sends two close requests to the updater port and starts no service.
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
    // The updater's close request is answered twice, then the service exits.
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
        QVERIFY(service.process().waitForFinished(10000));
        QCOMPARE(service.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.process().exitCode(), 0);
        QVERIFY(!answers.hasPendingDatagrams() && !answers.waitForReadyRead(200));
    }

    // A second start exits with 0 and leaves the holder alone; a SIGKILL leaves the marker unattached,
    // and the next start clears it. Only the lower-case "quit" asks to close.
    void oneInstance()
    {
        ServiceInstance second;
        ServiceInstance holders[2];
        for (ServiceInstance &holder : holders) {
            QVERIFY(holder.start({"QUIT"}));
            QTRY_COMPARE_WITH_TIMEOUT(markers(), held(holder, 1), 10000);
            QCOMPARE(runToEnd(second.executable(), {}), 0);
            QCOMPARE(holder.process().state(), QProcess::Running);
            QCOMPARE(markers(), held(holder, 1));
            const QStringList lstLeft = held(holder, 0);
            holder.kill();
            QCOMPARE(markers(), lstLeft);
        }
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"

// The real executable: the "quit" messenger, and one instance at a time, also after a SIGKILL. The
// holder's marker, a one-byte System V segment, appears a little after its HTTP port opens.
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

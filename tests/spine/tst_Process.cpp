// The real executable: the "quit" messenger, and one instance at a time, also after a SIGKILL.
#include <QDir>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <climits>

#include "common/ServiceInstance.h"

namespace {
using Markers = QList<QPair<qint64, int>>;

// Creator pid and attach count of each one-byte System V segment (the instance marker) of this IPC namespace.
Markers markers()
{
    QFile file(QStringLiteral("/proc/sysvipc/shm"));
    Markers lstMarkers;
    file.open(QIODevice::ReadOnly);
    file.readLine();
    while (!file.atEnd()) {
        const QList<QByteArray> lstFields = file.readLine().simplified().split(' ');
        if (lstFields.size() > 6 && lstFields.at(3).toInt() == 1)
            lstMarkers.append({lstFields.at(4).toLongLong(), lstFields.at(6).toInt()});
    }
    return lstMarkers;
}

bool holdsMarker(ServiceInstance &instance)
{
    return markers() == Markers{{instance.process().processId(), 1}};
}

int runToExit(ServiceInstance &instance, const QStringList &lstArgs = QStringList())
{
    QProcess proc;
    proc.start(instance.executable(), lstArgs);
    return proc.waitForFinished(15000) && proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : INT_MIN;
}
}

class TestProcess : public QObject
{
    Q_OBJECT

private slots:
    // Any argument containing "quit" sends two close requests to the updater port and starts no service.
    void messengerSendsTwoCloseRequests()
    {
        QUdpSocket updater;
        QVERIFY(updater.bind(QHostAddress(QStringLiteral("127.0.0.1")), 19682));
        for (const char *pArg : {"quit", "noquit", "-quit"}) {
            ServiceInstance instance;
            QCOMPARE(runToExit(instance, {QString::fromLatin1(pArg)}), 0);
            QList<QByteArray> lstDatagrams;
            while (updater.hasPendingDatagrams() || updater.waitForReadyRead(200))
                lstDatagrams.append(updater.receiveDatagram().data());
            QCOMPARE(lstDatagrams, (QList<QByteArray>{"{\"query\":\"IsUpdated\"}", "{\"query\":\"IsUpdated\"}"}));
            QCOMPARE(QDir(instance.dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"VexaPrinter"});
            QVERIFY(markers().isEmpty());
        }
    }

    // A second start exits with 0 and leaves the first alone; the marker a SIGKILL leaves behind
    // is cleared by the next start, which then keeps others out in turn.
    void oneInstanceAlsoAfterSigkill()
    {
        ServiceInstance first;
        QVERIFY(first.start({QStringLiteral("QUIT")})); // only the lower-case word asks to close
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(first), 10000);
        ServiceInstance second;
        QCOMPARE(runToExit(second), 0);
        QCOMPARE(first.process().state(), QProcess::Running);
        QVERIFY(holdsMarker(first));

        const qint64 llKilledPid = first.process().processId();
        first.kill();
        QCOMPARE(markers(), (Markers{{llKilledPid, 0}}));
        ServiceInstance next;
        QVERIFY(next.start());
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(next), 10000);
        QCOMPARE(runToExit(second), 0);
        QCOMPARE(next.process().state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"

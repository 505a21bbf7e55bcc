// The real executable: the "quit" messenger, and one instance at a time, also after a SIGKILL. The holder's
// marker, a one-byte System V segment, appears a little after its HTTP port opens; markers() gives
// "creator-pid attach-count" of each such segment in this IPC namespace.
#include <QtNetwork>
#include <QtTest>

#include "common/ServiceInstance.h"

static QStringList markers()
{
    QFile file(QStringLiteral("/proc/sysvipc/shm"));
    QStringList lstMarkers;
    for (const QByteArray &baLine : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split('\n').mid(1))
        if (const QList<QByteArray> f = baLine.simplified().split(' '); f.size() > 6 && f.at(3) == "1")
            lstMarkers << QString::fromLatin1(f.at(4) + ' ' + f.at(6));
    return lstMarkers;
}
static QStringList held(ServiceInstance &s, int nAttached) { return {QStringLiteral("%1 %2").arg(s.process().processId()).arg(nAttached)}; }

class TestProcess : public QObject
{
    Q_OBJECT

private slots:
    // Any argument containing "quit" sends two close requests to the updater port and starts no service.
    // Otherwise a second start exits with 0 and leaves the holder alone; a SIGKILL leaves the marker
    // unattached, and the next start clears it. Only the lower-case "quit" asks to close.
    void messengerAndOneInstance()
    {
        QUdpSocket updater;
        QVERIFY(updater.bind(QHostAddress::LocalHost, 19682));
        ServiceInstance second, holders[2];
        for (const char *pArg : {"quit", "noquit", "-quit"}) {
            QCOMPARE(QProcess::execute(second.executable(), {QString::fromLatin1(pArg)}), 0);
            QList<QByteArray> lstDatagrams;
            while (updater.hasPendingDatagrams() || updater.waitForReadyRead(200)) lstDatagrams << updater.receiveDatagram().data();
            QCOMPARE(lstDatagrams, QList<QByteArray>({"{\"query\":\"IsUpdated\"}", "{\"query\":\"IsUpdated\"}"}));
            QVERIFY(markers().isEmpty() && QDir(second.dir()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot) == QStringList{"VexaPrinter"});
        }
        for (ServiceInstance &holder : holders) {
            QVERIFY(holder.start({QStringLiteral("QUIT")}));
            QTRY_COMPARE_WITH_TIMEOUT(markers(), held(holder, 1), 10000);
            QCOMPARE(QProcess::execute(second.executable(), {}), 0);
            QVERIFY(holder.process().state() == QProcess::Running && markers() == held(holder, 1));
            const QStringList lstLeft = held(holder, 0);
            holder.kill();
            QCOMPARE(markers(), lstLeft);
        }
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"

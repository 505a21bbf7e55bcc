// The application object's own addresses. With VEXA_SPINE_VETH set, main() first gives the test's
// network namespace a veth pair: v0 with 192.168.77.20/24, v1 with link-local IPv6 only.
#include <QtTest>

#include <cstdlib>

#include "app/MainApp.h"
#include "log/Log.h"

class TestAppObject : public QObject
{
    Q_OBJECT

private slots:
    void addressScan()
    {
        const bool bVeth = qEnvironmentVariableIsSet("VEXA_SPINE_VETH");
        CMainApp *pApp = static_cast<CMainApp *>(qApp);
        QCOMPARE(pApp->getAddressIP(), bVeth ? QStringLiteral("192.168.77.20") : QString());
        QCOMPARE(pApp->getBroadcast(), bVeth ? QStringLiteral("192.168.77.255") : QString());
        // One log line per address: the IPv4 one and each end's link-local IPv6; none on loopback.
        const QStringList lstLines = g_printerLog.pendingLines().filter(QStringLiteral("] 本机IP:"));
        QCOMPARE(lstLines.size(), bVeth ? 3 : 0);
        QCOMPARE(lstLines.filter(QStringLiteral("] 本机IP:192.168.77.20 (")).size(), bVeth ? 1 : 0);
        QCOMPARE(lstLines.filter(QRegularExpression(QStringLiteral("] 本机IP:fe80::[0-9a-f:]+%v[01] \\("))).size(), bVeth ? 2 : 0);
    }
};

// Both ends up, each with a link-local IPv6 address that finished duplicate detection.
static const char kVethScript[] = "ip link add v0 type veth peer name v1 && ip addr add 192.168.77.20/24 dev v0"
    " && ip link set v0 up && ip link set v1 up && for i in $(seq 200); do"
    " [ $(ip -6 addr show | grep -c 'fe80::.*scope link') = 2 ] && ! ip -6 addr show | grep -q tentative && exit 0;"
    " sleep 0.05; done; exit 1";

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet("VEXA_SPINE_VETH") && std::system(kVethScript) != 0)
        qFatal("could not set up the veth pair");
    QTemporaryDir appDir;
    CMainApp app(argc, argv, appDir.path());
    app.start();
    TestAppObject tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_AppObject.moc"

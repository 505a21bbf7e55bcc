// The application object's own addresses. With VEXA_SPINE_VETH set, main() first gives the test's
// network namespace a veth pair: v0 with 192.168.77.20/24, v1 with link-local IPv6 only.
#include <QtTest>

#include <cstdio>
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
        // One log line per address entry: the IPv4 one and each end's link-local IPv6; none on loopback.
        QStringList lstLines;
        for (const QString &strLine : g_printerLog.pendingLines().filter(QStringLiteral("] 本机IP:")))
            lstLines << strLine.section(QStringLiteral("] "), 1).section(QStringLiteral(" ("), 0, 0);
        QCOMPARE(lstLines.size(), bVeth ? 3 : 0);
        QCOMPARE(lstLines.filter(QStringLiteral("本机IP:192.168.77.20")).size(), bVeth ? 1 : 0);
        QCOMPARE(lstLines.filter(QRegularExpression(QStringLiteral("^本机IP:fe80::[0-9a-f:]+%v[01]$"))).size(), bVeth ? 2 : 0);
    }
};

namespace {
bool run(const char *pCommand)
{
    return std::system(pCommand) == 0;
}

// Both ends up, each with a link-local IPv6 address that finished duplicate detection.
bool setUpVeth()
{
    if (!run("ip link add v0 type veth peer name v1 && ip addr add 192.168.77.20/24 dev v0"
             " && ip link set v0 up && ip link set v1 up"))
        return false;
    for (int i = 0; i < 200; ++i) {
        if (run("ip -6 addr show dev v0 | grep -q 'fe80::' && ip -6 addr show dev v1 | grep -q 'fe80::'"
                " && ! ip -6 addr show | grep -q tentative"))
            return true;
        QThread::msleep(50);
    }
    return false;
}
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet("VEXA_SPINE_VETH") && !setUpVeth()) {
        std::fprintf(stderr, "could not set up the veth pair\n");
        return 2;
    }
    QTemporaryDir appDir;
    CMainApp app(argc, argv, appDir.path());
    app.start();
    TestAppObject tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_AppObject.moc"

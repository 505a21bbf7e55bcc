#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstdlib>

#include "app/MainApp.h"
#include "log/Log.h"

// The application object as built in this process. With VEXA_SPINE_VETH set, main() first gives the
// test's own network namespace a veth pair, v0 with 192.168.77.20/24, v1 with link-local IPv6 only.
class TestAppObject : public QObject
{
    Q_OBJECT

private:
    static CMainApp *app() { return static_cast<CMainApp *>(qApp); }
    static bool withVeth() { return qEnvironmentVariableIsSet("VEXA_SPINE_VETH"); }
    static QStringList addressLines()
    {
        QStringList lstLines;
        for (const QString &strLine : g_printerLog.pendingLines()) {
            if (strLine.contains(QStringLiteral("] 本机IP:")))
                lstLines.append(strLine.section(QStringLiteral("] "), 1).section(QStringLiteral(" ("), 0, 0));
        }
        return lstLines;
    }

private slots:
    void addressScan()
    {
        QCOMPARE(app()->getAddressIP(), withVeth() ? QStringLiteral("192.168.77.20") : QString());
        QCOMPARE(app()->getBroadcast(), withVeth() ? QStringLiteral("192.168.77.255") : QString());

        const QStringList lstLines = addressLines();
        if (!withVeth()) {
            QVERIFY2(lstLines.isEmpty(), qPrintable(lstLines.join(QLatin1Char(','))));
            return;
        }
        // One line per address entry: the IPv4 one and the link-local IPv6 of each end.
        QCOMPARE(lstLines.size(), 3);
        QCOMPARE(lstLines.count(QStringLiteral("本机IP:192.168.77.20")), 1);
        QCOMPARE(lstLines.filter(QRegularExpression(QStringLiteral("^本机IP:fe80::[0-9a-f:]+%v[01]$"))).size(), 2);
        for (const QString &strLine : g_printerLog.pendingLines().filter(QStringLiteral("本机IP:")))
            QVERIFY(strLine.contains(QRegularExpression(QStringLiteral(" \\(MainApp\\.cpp:\\d+\\)\\n$"))));
    }

    void windowTitleShowsAddress()
    {
        QQmlApplicationEngine engine;
        engine.rootContext()->setContextProperty(QStringLiteral("mainwindow"), app());
        engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
        QCOMPARE(engine.rootObjects().size(), 1);
        auto *pWindow = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        QVERIFY(pWindow);
        QCOMPARE(pWindow->title(), QStringLiteral("Corvel打印控件 V1.2.29  (%1 : 12380)").arg(app()->getAddressIP()));
    }

    void printQuantityNotifiesOnChangeOnly()
    {
        QSignalSpy spy(app(), &CMainApp::printQuantityChanged);
        const int nStart = app()->property("getPrintQuantity").toInt();
        QVERIFY(app()->setProperty("getPrintQuantity", nStart));
        QCOMPARE(spy.count(), 0);
        QVERIFY(app()->setProperty("getPrintQuantity", nStart + 3));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(app()->property("getPrintQuantity").toInt(), nStart + 3);
        app()->setPrintQuantity(nStart + 3);
        QCOMPARE(spy.count(), 1);
        app()->setPrintQuantity(nStart);
        QCOMPARE(spy.count(), 2);
    }
};

namespace {
bool run(const char *pCommand)
{
    return std::system(pCommand) == 0;
}

// Waits until both ends carry a link-local IPv6 address that finished duplicate detection.
bool waitForLinkLocal()
{
    for (int i = 0; i < 200; ++i) {
        if (run("ip -6 addr show dev v0 | grep -q 'fe80::' && ip -6 addr show dev v1 | grep -q 'fe80::'"
                " && ! ip -6 addr show | grep -q tentative"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool setUpVeth()
{
    return run("ip link add v0 type veth peer name v1 && ip addr add 192.168.77.20/24 dev v0"
               " && ip link set v0 up && ip link set v1 up")
           && waitForLinkLocal();
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
    TestAppObject tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_AppObject.moc"

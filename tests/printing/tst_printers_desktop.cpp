// Printer queries on a desktop: avahi-daemon browses the network (with-avahi.sh sets it up in this
// test's own namespaces), and a scheduler may stop answering (a private cupsd stopped with SIGSTOP).
// The real service runs as a child process; every latency is taken over HTTP.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

#include <cups/cups.h>

#include "PdfOutput.h"
#include "common/ServiceInstance.h"

namespace {
const QByteArray kStatus = R"({"Msg":"PrinterStatus"})";
const QByteArray kInfo = R"({"Msg":"InfoData"})";
const QByteArray kNoPrinters = "{\"code\":200, \"data\":[\n]\n}";
const QString kTimeoutLine = QStringLiteral("获取打印机列表超时(3000ms)，按无打印机应答");

// One keep-alive connection that notes when each reply has arrived, counted from its first send.
class Client : public QObject
{
public:
    bool open()
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            baReceived += socket.readAll();
            while (lstArrivedMs.size() < replyBodies(baReceived).size())
                lstArrivedMs.append(timer.elapsed());
        });
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        return socket.waitForConnected(2000);
    }
    void send(const QByteArray &baBodies)
    {
        if (!timer.isValid())
            timer.start();
        socket.write(baBodies);
        socket.flush();
    }
    int replyCount() const { return lstArrivedMs.size(); }
    QList<QByteArray> bodies() const { return replyBodies(baReceived); }
    qint64 arrivedMs(int nReply) const { return lstArrivedMs.value(nReply, -1); }

    QTcpSocket socket;

private:
    QElapsedTimer timer;
    QByteArray baReceived;
    QList<qint64> lstArrivedMs;
};

QString printersOf(const QByteArray &baReply)
{
    const QByteArray baPrefix = "{\"code\":200, \"data\":";
    if (!baReply.startsWith(baPrefix))
        return QString::fromUtf8("not a status reply: " + baReply);
    QStringList lstNames;
    for (const QJsonValue &value : QJsonDocument::fromJson(baReply.mid(baPrefix.size()).chopped(1)).array())
        lstNames << QStringLiteral("%1/%2").arg(value[QLatin1String("name")].toString()).arg(value[QLatin1String("default")].toInt());
    return lstNames.join(QLatin1Char(' '));
}
}

class TestPrintersDesktop : public QObject
{
    Q_OBJECT

    ServiceInstance service;
    pid_t nCupsdPid = 0;

    void startService(const QString &strCupsServer)
    {
        service.kill();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!strCupsServer.isEmpty())
            env.insert(QStringLiteral("CUPS_SERVER"), strCupsServer);
        QVERIFY(service.start(QStringList(), env));
        QVERIFY(!postCommand(kStatus, 5000).isEmpty());  // the first query reads libcups' configuration
    }

private slots:
    void initTestCase()
    {
        nCupsdPid = qEnvironmentVariableIntValue("VEXA_CUPSD_PID");
        if (!qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS") || nCupsdPid <= 0)
            QFAIL("run through tests/printing/with-avahi.sh with VEXA_PRIVATE_CUPSD=1 (ctest does)");
        const QString strWhy = PdfOutput::whyNotReady();
        // A developer machine may lack the print queues; CI starts them, so there it is a failure.
        if (!strWhy.isEmpty() && qEnvironmentVariableIsSet("CI"))
            QFAIL(qPrintable(strWhy));
        if (!strWhy.isEmpty())
            QSKIP(qPrintable(strWhy));
        // Only meaningful where libcups' destination list browses: as on a desktop, it must take 250 ms.
        QElapsedTimer timer;
        timer.start();
        cups_dest_t *pDests = nullptr;
        cupsFreeDests(cupsGetDests2(CUPS_HTTP_DEFAULT, &pDests), pDests);
        QVERIFY2(timer.elapsed() >= 200, qPrintable(QStringLiteral("cupsGetDests2 took only %1 ms: avahi is not browsing")
                                                        .arg(timer.elapsed())));
    }

    void cleanupTestCase()
    {
        if (nCupsdPid > 0)
            ::kill(nCupsdPid, SIGCONT);
        service.kill();
    }

    // libcups' own destination list browses for 250 ms; the service must not.
    void printerStatusDoesNotBrowse()
    {
        startService(QString());
        for (int nRound = 0; nRound < 3; ++nRound) {
            Client status;
            Client info;
            QVERIFY(status.open() && info.open());
            status.send(buildPost(kStatus));
            info.send(buildPost(kInfo));
            QTRY_VERIFY_WITH_TIMEOUT(status.replyCount() == 1 && info.replyCount() == 1, 5000);
            QVERIFY2(status.arrivedMs(0) < 150, qPrintable(QStringLiteral("PrinterStatus took %1 ms").arg(status.arrivedMs(0))));
            QVERIFY2(info.arrivedMs(0) < 150, qPrintable(QStringLiteral("InfoData took %1 ms").arg(info.arrivedMs(0))));
            QCOMPARE(printersOf(status.bodies().value(0)), QStringLiteral("VexaNetOff/0 %1/1").arg(PdfOutput::queueName()));
        }
    }

    // A scheduler that takes requests but never answers: the page gets "no printers" after the 3 s
    // bound, everything else keeps its pace, and replies keep their order per connection.
    void hungSchedulerCostsOnlyTheBound()
    {
        startService(qEnvironmentVariable("VEXA_CUPSD_SOCKET"));
        QCOMPARE(printersOf(postCommand(kStatus)), QStringLiteral("HungQueue/1"));
        QCOMPARE(::kill(nCupsdPid, SIGSTOP), 0);

        Client pipelined;  // PrinterStatus and InfoData in one write: InfoData waits its turn
        Client info;
        Client receipt;
        Client leaving;  // closes while its PrinterStatus is pending
        QVERIFY(pipelined.open() && info.open() && receipt.open() && leaving.open());
        leaving.send(buildPost(kStatus));
        pipelined.send(buildPost(kStatus) + buildPost(kInfo));
        receipt.send(buildPost(R"({"data":"<p>hung</p>","Name":"HungQueue"})"));
        QTest::qWait(100);
        leaving.socket.abort();
        info.send(buildPost(kInfo));
        QTRY_VERIFY_WITH_TIMEOUT(info.replyCount() == 1, 500);
        QVERIFY2(info.arrivedMs(0) < 500, qPrintable(QStringLiteral("InfoData took %1 ms").arg(info.arrivedMs(0))));

        QTRY_VERIFY_WITH_TIMEOUT(pipelined.replyCount() == 2 && receipt.replyCount() == 1, 5000);
        QVERIFY2(pipelined.arrivedMs(0) < 4000, qPrintable(QString::number(pipelined.arrivedMs(0))));
        QCOMPARE(pipelined.bodies(), QList<QByteArray>({kNoPrinters, info.bodies().value(0)}));
        QCOMPARE(receipt.bodies(), QList<QByteArray>({"{\"code\":1}"}));
        QVERIFY(receipt.arrivedMs(0) < 4000);

        // One line per unanswered query (the two PrinterStatus and the receipt's printer check).
        QVERIFY(service.waitForLog(kTimeoutLine));
        QTRY_COMPARE_WITH_TIMEOUT(service.readLog().count(kTimeoutLine), 3, 2000);
        QCOMPARE(service.process().state(), QProcess::Running);

        QCOMPARE(::kill(nCupsdPid, SIGCONT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(printersOf(postCommand(kStatus)), QStringLiteral("HungQueue/1"), 10000);
    }
};

QTEST_MAIN(TestPrintersDesktop)
#include "tst_printers_desktop.moc"

// Printer queries to the real service on a desktop: avahi-daemon browses (with-avahi.sh), and a scheduler
// may stop answering (a private cupsd stopped with SIGSTOP). Every latency is taken over HTTP.
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <cups/cups.h>

#include "PdfOutput.h"
#include "common/ServiceInstance.h"
#include "server/HttpServer.h"

namespace {
const QByteArray kStatus = buildPost(R"({"Msg":"PrinterStatus"})");
const QByteArray kInfo = buildPost(R"({"Msg":"InfoData"})");

// One keep-alive connection and the replies it got.
struct Client : QTcpSocket
{
    QByteArray baReceived;

    explicit Client(const QByteArray &baRequests)
    {
        connect(this, &QTcpSocket::readyRead, [this] { baReceived += readAll(); });
        connectToHost("127.0.0.1", CHttpServer::kDefaultPort);
        write(baRequests); // in one piece once connected
    }
    QList<QByteArray> bodies() const { return replyBodies(baReceived); }
};

// "name/default ..." of a PrinterStatus reply (else the reply itself).
QString printersOf(const QByteArray &baReply)
{
    QStringList lstNames;
    for (const QJsonValue &value : QJsonDocument::fromJson(baReply)["data"].toArray())
        lstNames << value["name"].toString() + '/' + QString::number(value["default"].toInt());
    if (lstNames.isEmpty())
        return QString::fromUtf8(baReply);
    return lstNames.join(' ');
}
QString printers() { return printersOf(postCommand(R"({"Msg":"PrinterStatus"})")); }
}

class TestPrintersDesktop : public QObject
{
    Q_OBJECT

    ServiceInstance service;
    const pid_t nCupsdPid = qEnvironmentVariableIntValue("VEXA_CUPSD_PID");

    void startService(const QString &strPrinters) // on the scheduler of $CUPS_SERVER
    {
        service.kill();
        QVERIFY(service.start());
        QCOMPARE(printers(), strPrinters); // the first one reads libcups' configuration
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(nCupsdPid > 0, "run through with-avahi.sh, VEXA_PRIVATE_CUPSD=1");
        VEXA_REQUIRE_PDF_QUEUE();
        // Meaningful only where libcups' own destination list browses (250 ms), as on a desktop.
        QElapsedTimer timer;
        timer.start();
        cups_dest_t *pDests = nullptr;
        cupsFreeDests(cupsGetDests2(CUPS_HTTP_DEFAULT, &pDests), pDests);
        QVERIFY2(timer.elapsed() >= 200, "avahi is not browsing");
    }
    void cleanupTestCase() { ::kill(nCupsdPid, SIGCONT); }

    // Neither PrinterStatus nor an InfoData meanwhile waits for browsing; offline USB printers are left out.
    void printerStatusDoesNotBrowse()
    {
        const QString strPrinters = "VexaNetOff/0 " + PdfOutput::queueName() + "/1";
        startService(strPrinters);
        for (int nRound = 0; nRound < 3; ++nRound) {
            Client status(kStatus);
            Client info(kInfo);
            QTRY_VERIFY_WITH_TIMEOUT(status.bodies().size() == 1 && info.bodies().size() == 1, 150);
            QCOMPARE(printersOf(status.bodies().value(0)), strPrinters);
        }
    }

    // A scheduler that takes requests but never answers: the page gets "no printers" after the 3 s
    // bound, everything else keeps its pace, and replies keep their order per connection.
    void hungSchedulerCostsOnlyTheBound()
    {
        qputenv("CUPS_SERVER", qgetenv("VEXA_CUPSD_SOCKET"));
        startService("HungQueue/1");
        QCOMPARE(::kill(nCupsdPid, SIGSTOP), 0);
        Client pipelined(kStatus + kInfo);
        Client receipt(buildPost(R"({"data":"<p>hung</p>","Name":"HungQueue"})"));
        QTest::qWait(100); // both wait on the scheduler
        Client info(kInfo);
        QTRY_COMPARE_WITH_TIMEOUT(info.bodies().size(), 1, 500);
        QTRY_VERIFY_WITH_TIMEOUT(pipelined.bodies().size() == 2 && receipt.bodies().size() == 1, 3900);
        QCOMPARE(pipelined.bodies(), QList<QByteArray>({"{\"code\":200, \"data\":[\n]\n}", info.bodies().value(0)}));
        QCOMPARE(receipt.bodies(), QList<QByteArray>({"{\"code\":1}"}));
        // One line per unanswered query (the PrinterStatus and the receipt's printer check).
        QTRY_COMPARE_WITH_TIMEOUT(service.readLog().count("列表超时(3000ms)，按无打印机应答"), 2, 7000);
        QCOMPARE(::kill(nCupsdPid, SIGCONT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(printers(), QString("HungQueue/1"), 10000);
    }
};

QTEST_MAIN(TestPrintersDesktop)
#include "tst_printers_desktop.moc"

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

// One keep-alive connection that notes when each reply arrived, counted from its first send.
struct Client : QTcpSocket
{
    QElapsedTimer timer;
    QByteArray baReceived;
    QList<qint64> lstArrivedMs;

    explicit Client(const QByteArray &baRequests)
    {
        connect(this, &QTcpSocket::readyRead, [this] {
            baReceived += readAll();
            while (lstArrivedMs.size() < bodies().size())
                lstArrivedMs << timer.elapsed();
        });
        connectToHost("127.0.0.1", CHttpServer::kDefaultPort);
        timer.start();
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
        QVERIFY2(timer.elapsed() >= 200, qPrintable(QString("avahi is not browsing: %1 ms").arg(timer.elapsed())));
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
            QTRY_VERIFY_WITH_TIMEOUT(status.lstArrivedMs.size() == 1 && info.lstArrivedMs.size() == 1, 5000);
            const qint64 llSlowest = qMax(status.lstArrivedMs[0], info.lstArrivedMs[0]);
            QVERIFY2(llSlowest < 150, qPrintable(QString::number(llSlowest)));
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
        QTRY_VERIFY_WITH_TIMEOUT(info.lstArrivedMs.size() == 1, 500);
        QTRY_VERIFY_WITH_TIMEOUT(pipelined.lstArrivedMs.size() == 2 && receipt.lstArrivedMs.size() == 1, 5000);
        QVERIFY2(pipelined.lstArrivedMs[0] < 4000, qPrintable(QString::number(pipelined.lstArrivedMs[0])));
        QVERIFY2(receipt.lstArrivedMs[0] < 4000, qPrintable(QString::number(receipt.lstArrivedMs[0])));
        QCOMPARE(pipelined.bodies(), QList<QByteArray>({"{\"code\":200, \"data\":[\n]\n}", info.bodies().value(0)}));
        QCOMPARE(receipt.bodies(), QList<QByteArray>({"{\"code\":1}"}));
        // One line per unanswered query (the PrinterStatus and the receipt's printer check).
        const QString strTimeout = "获取打印机列表超时(3000ms)，按无打印机应答";
        QTRY_COMPARE_WITH_TIMEOUT(service.readLog().count(strTimeout), 2, 7000);
        QCOMPARE(::kill(nCupsdPid, SIGCONT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(printers(), QString("HungQueue/1"), 10000);
    }
};

QTEST_MAIN(TestPrintersDesktop)
#include "tst_printers_desktop.moc"

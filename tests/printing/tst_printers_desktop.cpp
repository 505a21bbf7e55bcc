// The real service where avahi-daemon browses (with-avahi.sh): receipts on cups-pdf, printer queries.
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <cups/cups.h>

#include "PdfOutput.h"
#include "common/ServiceInstance.h"
#include "common/TestFiles.h"
#include "server/HttpServer.h"

namespace {
const QByteArray kStatus = buildPost(R"({"Msg":"PrinterStatus"})");
const QByteArray kInfo = buildPost(R"({"Msg":"InfoData"})");

struct Client : QTcpSocket
{
    QByteArray baReceived;

    explicit Client(const QByteArray &baRequests)
    {
        connect(this, &QTcpSocket::readyRead, [this] { baReceived += readAll(); });
        connectToHost("127.0.0.1", CHttpServer::kDefaultPort);
        write(baRequests);
    }
    QList<QByteArray> bodies() const { return replyBodies(baReceived); }
};

QString run(const QString &strProgram, const QStringList &lstArgs)
{
    QProcess process;
    process.start(strProgram, lstArgs);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QByteArray settings(int nLeft, int nWidth)
{
    return QString(R"({"Msg":"Settings","data":[{"Name":"Elsewhere","PrinterLeft":%2,"Width":%3},{"Name":"%1"}]})")
        .arg(PdfOutput::queueName()).arg(nLeft).arg(nWidth).toUtf8();
}

// Page 1's width in mm, and its first word's left edge in points.
QPointF geometry(const QString &strPdf)
{
    const QString strBoxes = run("pdftotext", {"-bbox", "-l", "1", strPdf, "-"});
    const auto number = [&](const QString &strName) {
        return QRegularExpression(strName + "=\"([\\d.]+)\"").match(strBoxes).captured(1).toDouble();
    };
    return {number("page width") * 25.4 / 72, number("xMin")};
}

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
    const QDateTime dtStart = QDateTime::currentDateTime().addSecs(-1);
    const pid_t nCupsdPid = qEnvironmentVariableIntValue("VEXA_CUPSD_PID");

    void startService(const QString &strPrinters)
    {
        service.kill();
        QVERIFY(service.start());
        QCOMPARE(printers(), strPrinters); // the first reads libcups' configuration
    }

    QString print(const QString &strPrinter, const QByteArray &baReply = "{\"code\":200}")
    {
        const QString strMarker = "VEXA" + QString::number(QDateTime::currentMSecsSinceEpoch());
        const QString strHtml = "<p>" + strMarker + "</p><p>包厢 A08 消费清单</p>";
        const QByteArray baGot = postCommand(QString(R"({"Name":"%1","data":"%2"})").arg(strPrinter, strHtml).toUtf8());
        if (baGot != baReply)
            return "reply " + baGot;
        for (int nTry = 0; nTry < 150; ++nTry) {
            const QDir dir(PdfOutput::outputDir());
            for (const QFileInfo &info : dir.entryInfoList({"*.pdf"}, QDir::Files, QDir::Time)) {
                if (info.lastModified() >= dtStart && run("pdftotext", {info.filePath(), "-"}).contains(strMarker))
                    return info.filePath();
            }
            QTest::qWait(200);
        }
        return "no PDF";
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(nCupsdPid > 0, "run through with-avahi.sh");
        const QString strWhy = PdfOutput::whyNotReady();
        QVERIFY2(strWhy.isEmpty() || !qEnvironmentVariableIsSet("CI"), qPrintable(strWhy)); // CI starts the queue
        if (!strWhy.isEmpty())
            QSKIP(qPrintable(strWhy));
        // Where libcups' own destination list browses (250 ms), as on a desktop.
        QElapsedTimer timer;
        timer.start();
        cups_dest_t *pDests = nullptr;
        cupsFreeDests(cupsGetDests2(CUPS_HTTP_DEFAULT, &pDests), pDests);
        QVERIFY2(timer.elapsed() >= 200, "avahi is not browsing");
    }
    void cleanupTestCase() { ::kill(nCupsdPid, SIGCONT); }

    // An unknown printer answers 1 and prints on the default; the settings of the entry before it walk on.
    void geometryFontFallbackAndRestart()
    {
        QVERIFY(service.start());
        QCOMPARE(postCommand(settings(0, 80)), QByteArray("{\"code\":200}"));
        const QString strNear = print(PdfOutput::queueName());
        const QString strFonts = run("pdffonts", {strNear});
        QVERIFY2(strFonts.contains("WenQuanYi") && !strFonts.contains("DejaVu"), qPrintable(strNear + '\n' + strFonts));
        QCOMPARE(postCommand(settings(40, 80)), QByteArray("{\"code\":200}"));
        const QString strFar = print("NoSuchPrinter", "{\"code\":1}");
        const QPointF near = geometry(strNear);
        const QPointF far = geometry(strFar);
        QCOMPARE(qRound(near.x()), 80);
        QVERIFY2(qAbs(far.y() - near.y() - 40) <= 3, qPrintable(QString::number(far.y() - near.y())));
        service.kill();
        QVERIFY(writeFile(service.dir() + "/PrinterConfig.json", settings(0, 58)));
        QVERIFY(service.start());
        QCOMPARE(qRound(geometry(print(PdfOutput::queueName())).x()), 58);
    }

    // Neither waits for browsing; offline USB printers are left out.
    void printerStatusDoesNotBrowse()
    {
        const QString strPrinters = "VexaNetOff/0 " + PdfOutput::queueName() + "/1";
        startService(strPrinters);
        Client status(kStatus);
        Client info(kInfo);
        QTRY_VERIFY_WITH_TIMEOUT(status.bodies().size() == 1 && info.bodies().size() == 1, 150);
        QCOMPARE(printersOf(status.bodies().value(0)), strPrinters);
    }

    // "No printers" after the bound, a line per query left unanswered; other connections keep their pace.
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
        QTRY_COMPARE_WITH_TIMEOUT(readLog(service.dir()).count("列表超时(3000ms)"), 2, 7000);
        QCOMPARE(::kill(nCupsdPid, SIGCONT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(printers(), QString("HungQueue/1"), 10000);
    }
};

QTEST_MAIN(TestPrintersDesktop)
#include "tst_printers_desktop.moc"

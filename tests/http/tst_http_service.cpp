// The HTTP server of the real service binary, seen byte by byte from a client socket.
#include <QTcpSocket>
#include <QtTest>

#include <sys/resource.h>

#include <memory>
#include <vector>

#include "common/ServiceInstance.h"

namespace {
const QByteArray kReplyHead = "HTTP/1.1 200 OK\r\nAccess-Control-Allow-origin: *\r\nContent-Type:application/json\r\n";

QByteArray expectedReply(const QByteArray &baBody)
{
    return kReplyHead + "Content-Length:" + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

// Waits until the server has closed the socket (or the time-out passed); returns what arrived before.
QByteArray readUntilClosed(QTcpSocket &socket, int nTimeoutMs = 5000)
{
    QByteArray baReceived;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < nTimeoutMs) {
        socket.waitForReadyRead(100);
        baReceived += socket.readAll();
    }
    return baReceived + socket.readAll();
}

bool connectLocal(QTcpSocket &socket)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
    return socket.waitForConnected(5000);
}
}

class TestHttpService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void codeReplyIsByteExact();
    void chineseReplyCountsBytes();
    void pipelinedRepliesInOrderAndConnectionStaysOpen();
    void getIsRefusedAndClosed();
    void connectAndCloseLogsErrorThenDisconnect();
    void oversizedHeaderAndBodyClose_data();
    void oversizedHeaderAndBodyClose();
    void thousandConnections();

private:
    ServiceInstance service;
};

void TestHttpService::initTestCase()
{
    // 1000 client sockets here plus 1000 in the service (which inherits the limit).
    rlimit limit{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = qMin<rlim_t>(limit.rlim_max, 8192);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 2200)
        QSKIP("RLIMIT_NOFILE hard limit too low for 1000 connections");
    QVERIFY(service.start());
}

void TestHttpService::codeReplyIsByteExact()
{
    const QByteArray baReply = httpExchange(buildPost("{\"Msg\":\"SetRoomArea\",\"rooms\":[1,2]}"));
    QCOMPARE(baReply, expectedReply("{\"code\":200}"));
    QVERIFY(baReply.contains("\r\nContent-Length:12\r\n\r\n"));
}

void TestHttpService::chineseReplyCountsBytes()
{
    QCOMPARE(postCommand(QStringLiteral("{\"Msg\":\"SetRoomArea\",\"区域\":\"大厅\"}").toUtf8()), QByteArray("{\"code\":200}"));
    const QByteArray baReply = httpExchange(buildPost("{\"Msg\":\"GetRoomArea\"}"));
    const QByteArray baDocument = QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"区域\": \"大厅\"\n}\n").toUtf8();
    QCOMPARE(baReply, expectedReply(baDocument));
    QVERIFY(baDocument.size() > QString::fromUtf8(baDocument).size());
}

void TestHttpService::pipelinedRepliesInOrderAndConnectionStaysOpen()
{
    QTcpSocket socket;
    QVERIFY(connectLocal(socket));
    socket.write(buildPost("{\"Msg\":\"Unknown\"}") + buildPost("{\"Msg\":\"\",\"data\":\"\"}")
                 + buildPost("{\"Msg\":\"SetRoomArea\"}"));
    QByteArray baReceived;
    QTRY_VERIFY_WITH_TIMEOUT((baReceived += socket.readAll(), replyBodies(baReceived).size() == 3), 5000);
    QCOMPARE(baReceived, expectedReply("{\"code\":0}") + expectedReply("{\"code\":1}") + expectedReply("{\"code\":200}"));

    QVERIFY(service.waitForLog(QStringLiteral("http连接，读取到下个请求内容， %1")
                                   .arg(buildPost("{\"Msg\":\"\",\"data\":\"\"}").size()
                                        + buildPost("{\"Msg\":\"SetRoomArea\"}").size())));
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    socket.write(buildPost("{\"Msg\":\"GetRoomArea\"}"));
    baReceived.clear();
    QTRY_VERIFY_WITH_TIMEOUT((baReceived += socket.readAll(), replyBodies(baReceived).size() == 1), 5000);
    QCOMPARE(baReceived, expectedReply("{\n    \"Msg\": \"SetRoomArea\"\n}\n"));
}

void TestHttpService::getIsRefusedAndClosed()
{
    QTcpSocket socket;
    QVERIFY(connectLocal(socket));
    const QString strPort = QString::number(socket.localPort());
    const QByteArray baGet = "GET /status HTTP/1.1\r\nHost: 127.0.0.1:12380\r\n\r\n";
    socket.write(baGet);
    QCOMPARE(readUntilClosed(socket), QByteArray());
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    const QString strRefused =
        QStringLiteral("http连接不是POST请求, 远程端口:%1, 内容:%2").arg(strPort, QString::fromLatin1(baGet));
    QVERIFY(service.waitForLog(strRefused + QStringLiteral(" (")));
    QVERIFY(service.waitForLog(QStringLiteral("HTTP连接断开,port:%1 (").arg(strPort)));
}

void TestHttpService::connectAndCloseLogsErrorThenDisconnect()
{
    QTcpSocket socket;
    QVERIFY(connectLocal(socket));
    const QString strPort = QString::number(socket.localPort());
    socket.disconnectFromHost();
    const QString strDisconnect = QStringLiteral("HTTP连接断开,port:%1 (").arg(strPort);
    QVERIFY(service.waitForLog(strDisconnect));
    const QStringList lstLines = service.readLog().split(QLatin1Char('\n'));
    int nIndex = -1;
    for (int i = 0; i < lstLines.size(); ++i) {
        if (lstLines.at(i).contains(strDisconnect))
            nIndex = i;
    }
    QVERIFY(nIndex > 0);
    QVERIFY2(lstLines.at(nIndex - 1).contains(QStringLiteral("] Http连接Socket error: 1 - ")),
             qPrintable(lstLines.at(nIndex - 1)));
}

void TestHttpService::oversizedHeaderAndBodyClose_data()
{
    QTest::addColumn<QByteArray>("baRequest");
    QTest::addColumn<QString>("strLogPattern");
    QTest::newRow("header without end") << QByteArray("POST / HTTP/1.1\r\nX: ") + QByteArray(70000, 'a')
                                        << QStringLiteral("http连接头部过大，远程端口:%1，已接收:");
    QTest::newRow("announced body") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 40000000\r\n\r\n{}")
                                    << QStringLiteral("http连接Body过大，远程端口:%1，Content-Length:40000000，关闭连接");
}

void TestHttpService::oversizedHeaderAndBodyClose()
{
    QFETCH(QByteArray, baRequest);
    QFETCH(QString, strLogPattern);
    QTcpSocket socket;
    QVERIFY(connectLocal(socket));
    const quint16 nPort = socket.localPort();
    socket.write(baRequest);
    QCOMPARE(readUntilClosed(socket), QByteArray());
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(service.waitForLog(strLogPattern.arg(nPort)));
}

// Every connection sends its own requests, half of them only after all the others have begun:
// each must get exactly its own replies.
void TestHttpService::thousandConnections()
{
    const int nConnections = 1000;
    const QList<QByteArray> lstBodies{"{\"Msg\":\"NoSuchCommand\"}", "{\"data\":\"\"}", "{\"Msg\":\"GetRoomArea\"}"};
    QCOMPARE(postCommand("{\"Msg\":\"SetRoomArea\",\"n\":1000}"), QByteArray("{\"code\":200}"));
    const QByteArray baArea = replyBodies(httpExchange(buildPost(lstBodies.at(2)))).value(0);
    QVERIFY(!baArea.isEmpty());
    const QList<QByteArray> lstReplies{"{\"code\":0}", "{\"code\":1}", baArea};

    std::vector<std::unique_ptr<QTcpSocket>> vecSockets;
    std::vector<QByteArray> vecRequests, vecExpected, vecReceived(nConnections);
    for (int i = 0; i < nConnections; ++i) {
        QByteArray baRequests, baExpected;
        for (int k = 0; k <= i % 3; ++k) {
            baRequests += buildPost(lstBodies.at((i + k) % 3));
            baExpected += expectedReply(lstReplies.at((i + k) % 3));
        }
        vecRequests.push_back(baRequests);
        vecExpected.push_back(baExpected);
        vecSockets.emplace_back(new QTcpSocket);
        QTcpSocket *pSocket = vecSockets.back().get();
        QObject::connect(pSocket, &QTcpSocket::readyRead, [&vecReceived, pSocket, i] { vecReceived[i] += pSocket->readAll(); });
        pSocket->connectToHost(QStringLiteral("127.0.0.1"), 12380);
        if (i % 100 == 99) {  // the listen backlog is small: connect in waves
            for (int j = i - 99; j <= i; ++j)
                QTRY_COMPARE_WITH_TIMEOUT(vecSockets[j]->state(), QAbstractSocket::ConnectedState, 10000);
        }
    }
    for (int i = 0; i < nConnections; ++i)
        vecSockets[i]->write(vecRequests[i].left(vecRequests[i].size() / 2));
    QTest::qWait(50);
    for (int i = 0; i < nConnections; ++i)
        vecSockets[i]->write(vecRequests[i].mid(vecRequests[i].size() / 2));

    auto allDone = [&] {
        for (int i = 0; i < nConnections; ++i) {
            if (vecReceived[i].size() < vecExpected[i].size())
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allDone(), 30000);
    for (int i = 0; i < nConnections; ++i) {
        QVERIFY2(vecReceived[i] == vecExpected[i], qPrintable(QStringLiteral("connection %1").arg(i)));
        QCOMPARE(vecSockets[i]->state(), QAbstractSocket::ConnectedState);
    }
}

QTEST_GUILESS_MAIN(TestHttpService)
#include "tst_http_service.moc"

// Stress run (benchmarks/stress/run.sh, not part of the test suite): abuse of the HTTP port against an
// in-process application object: 500 slow trickling clients, size limits, clients vanishing mid-body
// and mid-reply. Prints how long a normal client waited among the tricklers.
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>

#include <memory>
#include <vector>

#include "common/AppTestMain.h"
#include "commands/PrinterJson.h"
#include "common/ServiceInstance.h"
#include "log/Log.h"
#include "server/HttpRequestParser.h"
#include "server/HttpServer.h"

namespace {
int countLines(const QString &strText, int nFrom)
{
    int nCount = 0;
    for (const QString &strLine : g_printerLog.pendingLines().mid(nFrom))
        nCount += strLine.contains(strText) ? 1 : 0;
    return nCount;
}

std::unique_ptr<QTcpSocket> openConnection()
{
    auto pSocket = std::make_unique<QTcpSocket>();
    pSocket->connectToHost(QStringLiteral("127.0.0.1"), 12380);
    pSocket->waitForConnected(5000);
    return pSocket;
}

// Waits on the test's own event loop (which also runs the server) for one whole reply.
QByteArray awaitReply(QTcpSocket &socket, int nTimeoutMs)
{
    QByteArray baData;
    const bool bComplete = QTest::qWaitFor([&] {
        baData += socket.readAll();
        return replyBodies(baData).size() >= 1;
    }, nTimeoutMs);
    return bComplete ? replyBodies(baData).value(0) : QByteArrayLiteral("<no reply>");
}
}

class TestReliabilityAbuse : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void trickleDoesNotStarveOthers();
    void steadyTrickleKeepsConnection();
    void oversizeIsClosed_data();
    void oversizeIsClosed();
    void clientGoneMidBody();
    void clientGoneMidReply();
};

void TestReliabilityAbuse::init()
{
    QTRY_COMPARE_WITH_TIMEOUT(mainApp()->httpServer()->connectionCount(), 0, 10000);
}

void TestReliabilityAbuse::cleanup()
{
    mainApp()->httpServer()->setIdleTimeoutMs(30000);
}

// 500 slow clients each send part of a header and stall; a normal client is still served at once,
// and every staller is closed once the idle interval has passed without data.
void TestReliabilityAbuse::trickleDoesNotStarveOthers()
{
    const int nTricklers = 500;
    mainApp()->httpServer()->setIdleTimeoutMs(1500);
    const int nFrom = g_printerLog.pendingLines().size();
    std::vector<std::unique_ptr<QTcpSocket>> vecSlow;
    // Connected without blocking: the server accepts them on this same event loop.
    for (int i = 0; i < nTricklers; ++i) {
        vecSlow.push_back(std::make_unique<QTcpSocket>());
        vecSlow.back()->connectToHost(QStringLiteral("127.0.0.1"), 12380);
        vecSlow.back()->write("POST / HTTP/1.1\r\n");
        if (i % 50 == 49)
            QTRY_COMPARE_WITH_TIMEOUT(mainApp()->httpServer()->connectionCount(), i + 1, 10000);
    }
    for (auto &pSocket : vecSlow)
        pSocket->write("Host: 127.0.0.1\r\nContent-");

    auto pNormal = openConnection();
    QElapsedTimer timer;
    timer.start();
    pNormal->write(buildPost("{\"Msg\":\"InfoData\"}"));
    QCOMPARE(awaitReply(*pNormal, 2000), dispatchAndWait("{\"Msg\":\"InfoData\"}").toUtf8());
    qInfo("normal client served in %lld ms among %d trickling clients", timer.elapsed(), nTricklers);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    pNormal->disconnectFromHost();

    QTRY_COMPARE_WITH_TIMEOUT(mainApp()->httpServer()->connectionCount(), 0, 10000);
    QCOMPARE(countLines(QStringLiteral("空闲超时"), nFrom), nTricklers);
    for (auto &pSocket : vecSlow)
        QTRY_COMPARE_WITH_TIMEOUT(pSocket->state(), QAbstractSocket::UnconnectedState, 2000);
}

// Data keeps arriving (a byte every 200 ms over four idle intervals): the connection stays open,
// and the request completes; silence afterwards closes it.
void TestReliabilityAbuse::steadyTrickleKeepsConnection()
{
    mainApp()->httpServer()->setIdleTimeoutMs(600);
    auto pSocket = openConnection();
    const QByteArray baRequest = buildPost("{\"Msg\":\"InfoData\"}");
    const int nHead = baRequest.size() - 12;
    pSocket->write(baRequest.left(nHead));
    for (int i = nHead; i < baRequest.size(); ++i) {
        QTest::qWait(200);
        QCOMPARE(pSocket->state(), QAbstractSocket::ConnectedState);
        pSocket->write(baRequest.mid(i, 1));
    }
    QCOMPARE(awaitReply(*pSocket, 2000), dispatchAndWait("{\"Msg\":\"InfoData\"}").toUtf8());
    QTRY_COMPARE_WITH_TIMEOUT(pSocket->state(), QAbstractSocket::UnconnectedState, 3000);
}

void TestReliabilityAbuse::oversizeIsClosed_data()
{
    QTest::addColumn<QByteArray>("baSend");
    QTest::addColumn<QString>("strLine");
    const QByteArray baHuge(CHttpRequestParser::kMaxHeaderBytes + 4096, 'x');
    QTest::newRow("header without end") << "POST / HTTP/1.1\r\nX: " + baHuge << QStringLiteral("http连接头部过大");
    QTest::newRow("header ending past limit") << "POST / HTTP/1.1\r\nX: " + baHuge + "\r\n\r\n"
                                               << QStringLiteral("http连接头部过大");
    QTest::newRow("Content-Length over limit") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2000000000\r\n\r\n{")
                                               << QStringLiteral("Content-Length:2000000000，关闭连接");
}

// The connection is closed with its log line, and nothing of it stays buffered in the service.
void TestReliabilityAbuse::oversizeIsClosed()
{
    QFETCH(QByteArray, baSend);
    QFETCH(QString, strLine);
    const int nFrom = g_printerLog.pendingLines().size();
    auto pSocket = openConnection();
    pSocket->write(baSend);
    QTRY_COMPARE_WITH_TIMEOUT(pSocket->state(), QAbstractSocket::UnconnectedState, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(mainApp()->httpServer()->connectionCount(), 0, 5000);
    QCOMPARE(countLines(strLine, nFrom), 1);
    QCOMPARE(countLines(QStringLiteral("请求:"), nFrom), 0);
}

// Half a body, then the client leaves: nothing is dispatched, the record goes, the next client is served.
void TestReliabilityAbuse::clientGoneMidBody()
{
    const int nFrom = g_printerLog.pendingLines().size();
    {
        auto pSocket = openConnection();
        pSocket->write(buildPost("{\"Msg\":\"SetRoomArea\",\"half\":true}").chopped(10));
        QTRY_COMPARE_WITH_TIMEOUT(countLines(QStringLiteral("Body不完整"), nFrom), 1, 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(mainApp()->httpServer()->connectionCount(), 0, 5000);
    QCOMPARE(countLines(QStringLiteral("请求:"), nFrom), 0);
    auto pNext = openConnection();
    pNext->write(buildPost("{\"Msg\":\"GetRoomArea\"}"));
    QCOMPARE(awaitReply(*pNext, 5000), QByteArray());
}

// Replies of several MiB queued for a client that reads a little and disconnects: the service drops
// the unsent rest and keeps serving.
void TestReliabilityAbuse::clientGoneMidReply()
{
    QJsonArray arrRooms;
    for (int i = 0; i < 40000; ++i)
        arrRooms.append(QStringLiteral("room-%1-with-a-long-name").arg(i));
    QJsonObject objArea{{QStringLiteral("Msg"), QStringLiteral("SetRoomArea")}, {QStringLiteral("rooms"), arrRooms}};
    QVERIFY(mainApp()->store()->writeJsonFile(objArea, QStringLiteral("./RoomArea.json")));
    {
        auto pSocket = openConnection();
        QByteArray baPipeline;
        for (int i = 0; i < 5; ++i)
            baPipeline += buildPost("{\"Msg\":\"GetRoomArea\"}");
        pSocket->write(baPipeline);
        QTRY_VERIFY_WITH_TIMEOUT(pSocket->bytesAvailable() > 0, 5000);
        pSocket->abort();
    }
    QTRY_COMPARE_WITH_TIMEOUT(mainApp()->httpServer()->connectionCount(), 0, 10000);
    auto pNext = openConnection();
    pNext->write(buildPost("{\"Msg\":\"InfoData\"}"));
    QCOMPARE(awaitReply(*pNext, 5000), dispatchAndWait("{\"Msg\":\"InfoData\"}").toUtf8());
}

VEXA_TEST_MAIN_WITH_APP(TestReliabilityAbuse)
#include "stress_abuse.moc"

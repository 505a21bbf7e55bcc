// CHttpServer alone with a stub handler over loopback sockets; log lines come from the channel's pending queue.
#include <QTcpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"
#include "log/Log.h"
#include "server/HttpServer.h"

namespace {
// Echoes each body as the reply, except "hold": that reply waits until the test sends it.
struct StubHandler : IHttpRequestHandler
{
    QList<ReplyFunction> lstHeld;
    void handleRequest(const QByteArray &baBody, const ReplyFunction &fnReply) override
    {
        baBody == "hold" ? lstHeld.append(fnReply) : fnReply(QString::fromUtf8(baBody));
    }
};

// A line containing strText was logged after the first nFrom lines.
bool loggedSince(int nFrom, const QString &strText)
{
    return !g_printerLog.pendingLines().mid(nFrom).filter(strText).isEmpty();
}

// Reads into baReceived until it holds nReplies complete replies.
bool receive(QTcpSocket &socket, QByteArray &baReceived, int nReplies, int nTimeoutMs = 5000)
{
    const auto fnDone = [&] { return (baReceived += socket.readAll(), replyBodies(baReceived).size() >= nReplies); };
    return QTest::qWaitFor(fnDone, nTimeoutMs);
}
}

class TestHttpServer : public QObject
{
    Q_OBJECT
    StubHandler handler;
    CHttpServer server{&handler};

    bool connectTo(QTcpSocket &socket)
    {
        const int nBefore = server.connectionCount();
        socket.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort);
        return socket.waitForConnected(5000)
               && QTest::qWaitFor([&] { return server.connectionCount() > nBefore; }, 5000);  // accepted by our loop
    }

private slots:
    void initTestCase() { QVERIFY(server.start()); }
    // Sockets of the previous function are gone on the server side too, so their lines don't interleave.
    void init() { QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 0, 5000); }

    // A reply that comes later holds back the replies after it on its own connection only.
    void repliesInRequestOrder()
    {
        QTcpSocket socketA, socketB;
        QVERIFY(connectTo(socketA) && connectTo(socketB));
        socketA.write(buildPost("hold") + buildPost("a2"));
        QTRY_COMPARE_WITH_TIMEOUT(handler.lstHeld.size(), 1, 5000);
        socketB.write(buildPost("b1"));
        QByteArray baA, baB;
        QVERIFY(receive(socketB, baB, 1));
        QCOMPARE(baB, QByteArray("HTTP/1.1 200 OK\r\nAccess-Control-Allow-origin: *\r\n"
                                 "Content-Type:application/json\r\nContent-Length:2\r\n\r\nb1"));
        QVERIFY(!receive(socketA, baA, 1, 300) && baA.isEmpty());
        handler.lstHeld.takeFirst()(QStringLiteral("held"));
        QVERIFY(receive(socketA, baA, 2));
        QCOMPARE(replyBodies(baA), (QList<QByteArray>{"held", "a2"}));
    }

    // Each way the server ends a connection, with its log line.
    void connectionIsClosed_data()
    {
        QTest::addColumn<QByteArray>("baRequest");
        QTest::addColumn<QString>("strLogged");  // %1 is the port
        QTest::newRow("idle") << QByteArray() << "http连接空闲超时，远程端口:%1，关闭连接";
        QTest::newRow("not POST") << QByteArray("GET / HTTP/1.1\r\n\r\n") << "http连接不是POST请求, 远程端口:%1, 内容:GET /";
        QTest::newRow("header too large") << "POST / HTTP/1.1\r\nX: " + QByteArray(70000, 'a')
                                          << "http连接头部过大，远程端口:%1，已接收:";
        QTest::newRow("body too large") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 40000000\r\n\r\n")
                                        << "http连接Body过大，远程端口:%1，Content-Length:40000000，关闭连接";
    }
    void connectionIsClosed()
    {
        QFETCH(QByteArray, baRequest);
        QFETCH(QString, strLogged);
        server.setIdleTimeoutMs(1000);  // the refusals close long before this
        QTcpSocket socket;
        QVERIFY(connectTo(socket));
        const int nFrom = g_printerLog.pendingLines().size();
        strLogged = strLogged.arg(socket.localPort());
        socket.write(baRequest);
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
        server.setIdleTimeoutMs(30000);
        QVERIFY2(loggedSince(nFrom, strLogged), qPrintable(strLogged));
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_http_server.moc"

// CHttpServer alone with a stub handler over loopback sockets; log lines come from the channel's pending queue.
#include <QTcpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"
#include "log/Log.h"
#include "server/HttpServer.h"

// Echoes each body as the reply, except "hold": that reply waits until the test sends it.
struct StubHandler : IHttpRequestHandler
{
    QList<ReplyFunction> lstHeld;
    void handleRequest(const QByteArray &baBody, const ReplyFunction &fnReply) override { baBody == "hold" ? lstHeld.append(fnReply) : fnReply(QString::fromUtf8(baBody)); }
};

class TestHttpServer : public QObject
{
    Q_OBJECT
    StubHandler handler;
    CHttpServer server{&handler};

    // Connects and waits until our loop accepted the connection.
    bool connectTo(QTcpSocket &socket)
    {
        const int nBefore = server.connectionCount();
        socket.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort);
        return socket.waitForConnected(5000) && QTest::qWaitFor([&] { return server.connectionCount() > nBefore; }, 5000);
    }
    // Reads into baReceived until it holds nReplies complete replies.
    static bool receive(QTcpSocket &socket, QByteArray &baReceived, int nReplies, int nTimeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return (baReceived += socket.readAll(), replyBodies(baReceived).size() >= nReplies); }, nTimeoutMs);
    }

private slots:
    void initTestCase() { QVERIFY(server.start()); }
    void init() { QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 0, 5000); } // the previous function's lines are all out

    // A reply that comes later holds back the replies after it on its own connection only.
    void repliesInRequestOrder()
    {
        QTcpSocket socketA, socketB;
        QVERIFY(connectTo(socketA) && connectTo(socketB));
        socketA.write(buildPost("hold") + buildPost("a2"));
        QTRY_COMPARE_WITH_TIMEOUT(handler.lstHeld.size(), 1, 5000);
        socketB.write(buildPost("b1"));
        QByteArray baA, baB;
        QVERIFY(receive(socketB, baB, 1) && !receive(socketA, baA, 1, 300) && baA.isEmpty());
        QCOMPARE(baB, QByteArray("HTTP/1.1 200 OK\r\nAccess-Control-Allow-origin: *\r\nContent-Type:application/json\r\nContent-Length:2\r\n\r\nb1"));
        handler.lstHeld.takeFirst()(QStringLiteral("held"));
        QVERIFY(receive(socketA, baA, 2));
        QCOMPARE(replyBodies(baA), (QList<QByteArray>{"held", "a2"}));
    }

    // Each way a connection ends, with its log lines in this order, then the disconnect (%1 is the client's port).
    void connectionIsClosed_data()
    {
        QTest::addColumn<QByteArray>("baRequest"), QTest::addColumn<QStringList>("lstLogged"); // "close": the client closes
        QTest::newRow("idle") << QByteArray() << QStringList{"http连接空闲超时，远程端口:%1，关闭连接"};
        QTest::newRow("not POST") << QByteArray("GET / HTTP/1.1\r\n\r\n") << QStringList{"http连接不是POST请求, 远程端口:%1, 内容:GET / HTTP/1.1\r\n\r\n ("};
        QTest::newRow("header too large") << "POST / HTTP/1.1\r\nX: " + QByteArray(70000, 'a') << QStringList{"http连接头部过大，远程端口:%1，已接收:"};
        QTest::newRow("body too large") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 40000000\r\n\r\n{}")
                                        << QStringList{"http连接Body过大，远程端口:%1，Content-Length:40000000，关闭连接"};
        QTest::newRow("client closes") << QByteArray("close") << QStringList{"] Http连接Socket error: 1 - "};
    }
    void connectionIsClosed()
    {
        QFETCH(QByteArray, baRequest);
        QFETCH(QStringList, lstLogged);
        server.setIdleTimeoutMs(1000); // the refusals close long before this
        QTcpSocket socket;
        QVERIFY(connectTo(socket));
        const int nFrom = g_printerLog.pendingLines().size();
        const QString strPort = QString::number(socket.localPort());
        baRequest == "close" ? socket.disconnectFromHost() : void(socket.write(baRequest));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 0, 5000);
        server.setIdleTimeoutMs(30000);
        const QString strLines = g_printerLog.pendingLines().mid(nFrom).join('\n');
        int nAt = 0;
        for (QString strLine : lstLogged << "HTTP连接断开,port:%1 (")
            QVERIFY2((nAt = strLines.indexOf(strLine.replace("%1", strPort), nAt)) >= 0, qPrintable(strLine + "\nnot after the lines before it in\n" + strLines));
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_http_server.moc"

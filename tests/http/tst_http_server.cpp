// CHttpServer alone with a stub handler over loopback sockets; log lines come from the channel's pending queue.
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"
#include "log/Log.h"
#include "server/HttpServer.h"

// Echoes each body as the reply, except "hold" (that reply waits until the test sends it) and "big" (1 MiB).
struct StubHandler : IHttpRequestHandler
{
    QList<ReplyFunction> lstHeld;
    int nBig = 0;
    void handleRequest(const QByteArray &baBody, const ReplyFunction &fnReply) override
    {
        baBody == "hold" ? lstHeld.append(fnReply) : baBody == "big" ? (++nBig, fnReply(QString(1 << 20, 'x'))) : fnReply(QString::fromUtf8(baBody));
    }
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
    // Log lines from nFrom on, joined.
    static QString loggedSince(int nFrom) { return g_printerLog.pendingLines().mid(nFrom).join('\n'); }
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
        const QString strLines = loggedSince(nFrom);
        int nAt = 0;
        for (QString strLine : lstLogged << "HTTP连接断开,port:%1 (")
            QVERIFY2((nAt = strLines.indexOf(strLine.replace("%1", strPort), nAt)) >= 0, qPrintable(strLine + "\nnot after the lines before it in\n" + strLines));
    }

    // A client that pipelines large replies and never reads is not read from while they pile up;
    // another client is served meanwhile, and the first gets every reply once it reads.
    void neverReadingClientIsBounded()
    {
        QTcpSocket flood, other;
        flood.setReadBufferSize(4096);  // our own loop must not read for it
        QVERIFY(connectTo(flood) && connectTo(other));
        handler.nBig = 0;
        QByteArray baRequests;
        for (int i = 0; i < 64; ++i)
            baRequests += buildPost("big");
        flood.write(baRequests);
        QTRY_VERIFY_WITH_TIMEOUT(handler.nBig > 0, 5000);
        QByteArray baOther;
        other.write(buildPost("b1"));
        QVERIFY(receive(other, baOther, 1, 1000));
        // The kernel's buffers take a few MiB; the server itself holds about one reply.
        QVERIFY2(handler.nBig <= 16, qPrintable(QStringLiteral("%1 replies of 1 MiB made for a client that reads none").arg(handler.nBig)));
        const qint64 llReply = (1 << 20) + QByteArray("HTTP/1.1 200 OK\r\nAccess-Control-Allow-origin: *\r\nContent-Type:application/json\r\nContent-Length:1048576\r\n\r\n").size();
        qint64 llRead = 0;
        flood.setReadBufferSize(0);
        QVERIFY(QTest::qWaitFor([&] { return (llRead += flood.readAll().size()) >= 64 * llReply; }, 20000));
        QCOMPARE(handler.nBig, 64);
    }

    // A refused request ends the connection only after the reply before it has gone out whole.
    void refusalWaitsForEarlierReply()
    {
        // Small kernel buffers (in this test's own network namespace) keep most of the reply in the server.
        const auto fnSysctl = [](const char *pName, const QByteArray &baValue = QByteArray()) {
            QFile file(QStringLiteral("/proc/sys/net/ipv4/") + pName);
            return file.open(baValue.isEmpty() ? QIODevice::ReadOnly : QIODevice::WriteOnly) ? (baValue.isEmpty() ? file.readAll() : QByteArray::number(file.write(baValue))) : QByteArray();
        };
        const QByteArray baWmem = fnSysctl("tcp_wmem"), baRmem = fnSysctl("tcp_rmem");
        const auto restore = qScopeGuard([&] { fnSysctl("tcp_wmem", baWmem), fnSysctl("tcp_rmem", baRmem); });
        QVERIFY(fnSysctl("tcp_wmem", "4096 16384 65536").toInt() > 0 && fnSysctl("tcp_rmem", "4096 16384 65536").toInt() > 0);
        QTcpSocket socket;
        socket.setReadBufferSize(4096);  // not read yet
        QVERIFY(connectTo(socket));
        const int nFrom = g_printerLog.pendingLines().size();
        socket.write(buildPost("big") + "GET / HTTP/1.1\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(loggedSince(nFrom).contains("http连接不是POST请求"), 5000);
        socket.setReadBufferSize(0);
        QByteArray baReceived;
        QVERIFY(receive(socket, baReceived, 1));
        QCOMPARE(replyBodies(baReceived), QList<QByteArray>{QByteArray(1 << 20, 'x')});
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
    }

    // Bytes going out count as activity: a reply that took most of the idle time keeps the connection.
    void replyRestartsIdleTime()
    {
        server.setIdleTimeoutMs(2000);
        QTcpSocket socket;
        QVERIFY(connectTo(socket));
        socket.write(buildPost("hold"));
        QTRY_COMPARE_WITH_TIMEOUT(handler.lstHeld.size(), 1, 5000);
        QTest::qWait(1000);
        handler.lstHeld.takeFirst()(QStringLiteral("late"));
        QTest::qWait(1500);
        server.setIdleTimeoutMs(30000);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }

    // Connections beyond the cap are closed at once with one line; those within it are served.
    void connectionCap()
    {
        server.setMaxConnections(2);
        QTcpSocket socketA, socketB, socketOver;
        QVERIFY(connectTo(socketA) && connectTo(socketB) && socketOver.bind(QHostAddress::LocalHost));
        const quint16 nOverPort = socketOver.localPort();
        const int nFrom = g_printerLog.pendingLines().size();
        socketOver.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort);
        QTRY_COMPARE_WITH_TIMEOUT(socketOver.state(), QAbstractSocket::UnconnectedState, 5000);
        server.setMaxConnections(CHttpServer::kMaxConnections);
        QVERIFY2(loggedSince(nFrom).contains(QStringLiteral("http连接数已达上限2，远程端口:%1，关闭连接").arg(nOverPort)), qPrintable(loggedSince(nFrom)));
        QCOMPARE(server.connectionCount(), 2);
        QByteArray baA;
        socketA.write(buildPost("a1"));
        QVERIFY(receive(socketA, baA, 1));
    }

    // A port held by another program is logged and reported, tried again every 5 s, and served once free.
    void takenPortIsRetried()
    {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, CHttpServer::kDefaultPort + 1));
        CHttpServer late(&handler, CHttpServer::kDefaultPort + 1);
        QSignalSpy spyError(&late, &CHttpServer::listenErrorChanged);
        const int nFrom = g_printerLog.pendingLines().size();
        QVERIFY(!late.start());
        QCOMPARE(spyError.count(), 1);
        QVERIFY2(loggedSince(nFrom).contains("HTTP端口12381监听失败：" + late.listenError() + "，每5秒重试"), qPrintable(loggedSince(nFrom)));
        QTest::qWait(1000);
        other.close();
        QTRY_VERIFY_WITH_TIMEOUT(late.listenError().isEmpty(), 6000);
        QCOMPARE(spyError.count(), 2);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort + 1);
        QByteArray baReceived;
        QVERIFY(socket.waitForConnected(5000) && socket.write(buildPost("late")) && receive(socket, baReceived, 1));
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_http_server.moc"

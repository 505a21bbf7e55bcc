// CHttpServer alone with a stub handler over loopback sockets; log lines come from the channel's
// pending queue (no writer thread runs here).
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"
#include "log/Log.h"
#include "server/HttpConnection.h"
#include "server/HttpServer.h"

namespace {
const int kBigReply = 1 << 20;

// Echoes each body, except "hold" (the test sends that reply later) and "big" (1 MiB of 'x').
struct StubHandler : IHttpRequestHandler
{
    QList<ReplyFunction> lstHeld;
    int nBig = 0;
    void handleRequest(const QByteArray &baBody, const ReplyFunction &fnReply) override
    {
        if (baBody == "hold") {
            lstHeld.append(fnReply);
            return;
        }
        if (baBody == "big") {
            ++nBig;
            fnReply(QString(kBigReply, QLatin1Char('x')));
            return;
        }
        fnReply(QString::fromUtf8(baBody));
    }
};

QString loggedSince(int nFrom)
{
    return g_printerLog.pendingLines().mid(nFrom).join('\n');
}

// Reads into baReceived until it holds nReplies complete replies.
bool receive(QTcpSocket &socket, QByteArray &baReceived, int nReplies, int nTimeoutMs = 5000)
{
    return QTest::qWaitFor([&] {
        baReceived += socket.readAll();
        return replyBodies(baReceived).size() >= nReplies;
    }, nTimeoutMs);
}

// Small kernel buffers keep most of a large reply in the server (for the connections made after it);
// the test's own network namespace goes with it.
bool shrinkTcpBuffers()
{
    for (const char *pName : {"tcp_wmem", "tcp_rmem"}) {
        QFile file(QStringLiteral("/proc/sys/net/ipv4/") + pName);
        if (!file.open(QIODevice::WriteOnly) || file.write("4096 16384 65536") <= 0)
            return false;
    }
    return true;
}
}

class TestHttpServer : public QObject
{
    Q_OBJECT
    StubHandler handler;
    CHttpServer server{&handler};

    // Connects and waits until the server has taken the connection.
    bool connectTo(QTcpSocket &socket)
    {
        const int nBefore = server.connectionCount();
        socket.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort);
        if (!socket.waitForConnected(5000))
            return false;
        return QTest::qWaitFor([&] { return server.connectionCount() > nBefore; }, 5000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.start());
    }
    // The previous function's connections are all gone, and their lines logged.
    void init()
    {
        QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 0, 5000);
    }

    // A reply that comes later holds back the replies after it on its own connection only. Replies
    // are byte-exact, their length in UTF-8 bytes.
    void repliesInRequestOrder()
    {
        const QByteArray baChinese = QStringLiteral("乙一").toUtf8();
        QTcpSocket socketA;
        QTcpSocket socketB;
        QVERIFY(connectTo(socketA));
        QVERIFY(connectTo(socketB));
        socketA.write(buildPost("hold") + buildPost("a2"));
        QTRY_COMPARE_WITH_TIMEOUT(handler.lstHeld.size(), 1, 5000);
        socketB.write(buildPost(baChinese));
        QByteArray baA;
        QByteArray baB;
        QVERIFY(receive(socketB, baB, 1));
        QCOMPARE(baB, httpReply(baChinese));
        QVERIFY(!receive(socketA, baA, 1, 300));
        handler.lstHeld.takeFirst()(QStringLiteral("held"));
        QVERIFY(receive(socketA, baA, 2));
        QCOMPARE(replyBodies(baA), (QList<QByteArray>{"held", "a2"}));
    }

    // Each way a connection ends: its lines in this order, then the disconnect (%1: the client's port).
    void connectionIsClosed_data()
    {
        QTest::addColumn<QByteArray>("baRequest");  // "close": the client closes
        QTest::addColumn<QStringList>("lstLogged");
        QTest::newRow("idle") << QByteArray() << QStringList{"http连接空闲超时，远程端口:%1，关闭连接"};
        QTest::newRow("not POST")
            << QByteArray("GET / HTTP/1.1\r\n\r\n")
            << QStringList{"http连接不是POST请求, 远程端口:%1, 内容:GET / HTTP/1.1\r\n\r\n ("};
        QTest::newRow("header too large") << "POST / HTTP/1.1\r\nX: " + QByteArray(70000, 'a')
                                          << QStringList{"http连接头部过大，远程端口:%1，已接收:"};
        QTest::newRow("body too large")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 40000000\r\n\r\n{}")
            << QStringList{"http连接Body过大，远程端口:%1，Content-Length:40000000，关闭连接"};
        QTest::newRow("client closes, a reply pending")
            << QByteArray("close") << QStringList{"] Http连接Socket error: 1 - "};
    }
    void connectionIsClosed()
    {
        QFETCH(QByteArray, baRequest);
        QFETCH(QStringList, lstLogged);
        server.setIdleTimeoutMs(1000);  // the refusals close long before this
        QTcpSocket socket;
        QVERIFY(connectTo(socket));
        const int nFrom = g_printerLog.pendingLines().size();
        const QString strPort = QString::number(socket.localPort());
        if (baRequest == "close") {
            socket.write(buildPost("hold"));
            QTRY_COMPARE_WITH_TIMEOUT(handler.lstHeld.size(), 1, 5000);
            socket.disconnectFromHost();
        } else {
            socket.write(baRequest);
        }
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 0, 5000);
        QTest::qWait(10);  // the event loop deletes the closed connection; a late reply then goes nowhere
        while (!handler.lstHeld.isEmpty())
            handler.lstHeld.takeFirst()(QStringLiteral("late"));
        server.setIdleTimeoutMs(30000);
        const QString strLines = loggedSince(nFrom);
        int nAt = 0;
        for (QString strLine : lstLogged << "HTTP连接断开,port:%1 (") {
            nAt = strLines.indexOf(strLine.replace("%1", strPort), nAt);
            QVERIFY2(nAt >= 0, qPrintable(strLine + "\nnot after the lines before it in\n" + strLines));
        }
    }

    // A client that pipelines large replies and never reads is not read from while they pile up;
    // another client is served meanwhile, and the first gets every reply once it reads.
    void neverReadingClientIsBounded()
    {
        QTcpSocket flood;
        QTcpSocket other;
        flood.setReadBufferSize(4096);  // our own loop must not read for it
        QVERIFY(connectTo(flood));
        QVERIFY(connectTo(other));
        handler.nBig = 0;
        flood.write(buildPost("big").repeated(64));
        QTRY_VERIFY_WITH_TIMEOUT(handler.nBig > 0, 5000);
        QByteArray baOther;
        other.write(buildPost("b1"));
        QVERIFY(receive(other, baOther, 1, 1000));
        // The kernel's buffers take a few MiB; the server itself holds about one reply.
        QVERIFY2(handler.nBig <= 16, qPrintable(QStringLiteral("%1 replies made for a client that reads none")
                                                    .arg(handler.nBig)));
        const qint64 llExpected = 64 * qint64(httpReply(QByteArray(kBigReply, 'x')).size());
        qint64 llRead = 0;
        flood.setReadBufferSize(0);
        QVERIFY(QTest::qWaitFor([&] {
            llRead += flood.readAll().size();
            return llRead >= llExpected;
        }, 20000));
        QCOMPARE(handler.nBig, 64);
    }

    // A refused request ends the connection only after the reply before it has gone out whole.
    void refusalWaitsForEarlierReply()
    {
        QVERIFY(shrinkTcpBuffers());
        QTcpSocket socket;
        socket.setReadBufferSize(4096);  // not read yet
        QVERIFY(connectTo(socket));
        const int nFrom = g_printerLog.pendingLines().size();
        socket.write(buildPost("big") + "GET / HTTP/1.1\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(loggedSince(nFrom).contains("http连接不是POST请求"), 5000);
        socket.setReadBufferSize(0);
        QByteArray baReceived;
        QVERIFY(receive(socket, baReceived, 1));
        QCOMPARE(replyBodies(baReceived), QList<QByteArray>{QByteArray(kBigReply, 'x')});
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
        QTcpSocket socketA;
        QTcpSocket socketB;
        QTcpSocket socketOver;
        QVERIFY(connectTo(socketA));
        QVERIFY(connectTo(socketB));
        QVERIFY(socketOver.bind(QHostAddress::LocalHost));
        const QString strLine =
            QStringLiteral("http连接数已达上限2，远程端口:%1，关闭连接").arg(socketOver.localPort());
        const int nFrom = g_printerLog.pendingLines().size();
        socketOver.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort);
        QTRY_COMPARE_WITH_TIMEOUT(socketOver.state(), QAbstractSocket::UnconnectedState, 5000);
        server.setMaxConnections(CHttpServer::kMaxConnections);
        QVERIFY2(loggedSince(nFrom).contains(strLine), qPrintable(loggedSince(nFrom)));
        QCOMPARE(server.connectionCount(), 2);
    }

    // A port held by another program is logged and reported, and tried again every 5 s until it is free.
    void takenPortIsRetried()
    {
        const quint16 nPort = CHttpServer::kDefaultPort + 1;
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, nPort));
        CHttpServer late(&handler, nPort);
        QSignalSpy spyError(&late, &CHttpServer::listenErrorChanged);
        const int nFrom = g_printerLog.pendingLines().size();
        QVERIFY(!late.start());
        QCOMPARE(spyError.count(), 1);
        const QString strLine =
            QStringLiteral("HTTP端口%1监听失败：%2，每5秒重试").arg(nPort).arg(late.listenError());
        QVERIFY2(loggedSince(nFrom).contains(strLine), qPrintable(loggedSince(nFrom)));
        other.close();
        QTRY_VERIFY_WITH_TIMEOUT(late.listenError().isEmpty(), 6000);
        QCOMPARE(spyError.count(), 2);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), nPort);
        QVERIFY(socket.waitForConnected(5000));
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_http_server.moc"

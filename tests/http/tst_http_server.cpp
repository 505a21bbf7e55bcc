// The HTTP server with a handler that refuses every command, driven through a real loopback socket;
// log lines are read from the channel's pending queue (its writer thread is not running here).
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"
#include "log/Log.h"
#include "server/HttpServer.h"

namespace {
struct RefuseAll : IHttpRequestHandler
{
    void handleRequest(const QByteArray &, const ReplyFunction &fnReply) override { fnReply(QStringLiteral("{\"code\":0}")); }
};

// Messages logged since nFrom, without time stamp and source position.
QStringList messagesSince(int nFrom)
{
    static const QRegularExpression kLine(QStringLiteral("^\\[[^\\]]*\\] (.*) \\([^()]*:\\d+\\)\\n$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QStringList lst;
    const QStringList lstLines = g_printerLog.pendingLines().mid(nFrom);
    for (const QString &strLine : lstLines)
        lst << kLine.match(strLine).captured(1);
    return lst;
}
}

class TestHttpServer : public QObject
{
    Q_OBJECT
    RefuseAll handler;
    CHttpServer server{&handler};
private slots:
    void initTestCase() { QVERIFY(server.start()); }
    void init();
    void splitRequestLogsEachStage();
    void repliesOnOneConnectionNeverDoubleDrain();
    void replyForUnknownSocketIsDropped();
    void idleConnectionIsClosed();
    void trafficKeepsConnectionOpen();

private:
    bool connectTo(QTcpSocket &socket)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        if (!socket.waitForConnected(5000))
            return false;
        return QTest::qWaitFor([this] { return server.connectionCount() > 0; }, 5000);  // accepted by our loop
    }
};

// Sockets of the previous function are gone on the server side too, so their lines don't interleave.
void TestHttpServer::init()
{
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 0, 5000);
}

void TestHttpServer::splitRequestLogsEachStage()
{
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    const QString strPort = QString::number(socket.localPort());
    const QByteArray baRequest = buildPost("{\"Msg\":\"Nope\"}");
    const int nHeaderEnd = baRequest.indexOf("\r\n\r\n") + 4;
    const int nFrom = g_printerLog.pendingLines().size();

    socket.write(baRequest.left(12));
    QTRY_COMPARE_WITH_TIMEOUT(messagesSince(nFrom).size(), 1, 5000);
    socket.write(baRequest.mid(12, nHeaderEnd - 12 + 3));
    QTRY_COMPARE_WITH_TIMEOUT(messagesSince(nFrom).size(), 2, 5000);
    socket.write(baRequest.mid(nHeaderEnd + 3) + baRequest.left(5));
    QByteArray baReceived;
    QTRY_VERIFY_WITH_TIMEOUT((baReceived += socket.readAll(), replyBodies(baReceived).size() == 1), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(messagesSince(nFrom).size(), 5, 5000);
    QCOMPARE(messagesSince(nFrom),
             (QStringList{QStringLiteral("http连接，远程端口:%1，头部不完整，等待更多数据").arg(strPort),
                          QStringLiteral("http连接Body不完整，等待接受更多数据，远程端口:%1").arg(strPort),
                          QStringLiteral("http连接，远程端口：%1，请求:{\"Msg\":\"Nope\"}").arg(strPort),
                          QStringLiteral("http连接，读取到下个请求内容， 5"),
                          QStringLiteral("http连接，远程端口:%1，头部不完整，等待更多数据").arg(strPort)}));
    QCOMPARE(replyBodies(baReceived), QList<QByteArray>{"{\"code\":0}"});
}

// The progress signal is connected once per busy period: a second connection would run the
// drain step twice and log "数据发送完" for the empty queue.
void TestHttpServer::repliesOnOneConnectionNeverDoubleDrain()
{
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    const int nFrom = g_printerLog.pendingLines().size();
    QByteArray baReceived;
    for (int i = 1; i <= 4; ++i) {
        socket.write(buildPost("{\"Msg\":\"x\"}").repeated(i));
        QTRY_VERIFY_WITH_TIMEOUT((baReceived += socket.readAll(), replyBodies(baReceived).size() == i * (i + 1) / 2),
                                 5000);
        QTest::qWait(20);
    }
    for (const QString &strMessage : messagesSince(nFrom))
        QVERIFY2(!strMessage.contains(QStringLiteral("数据发送完")), qPrintable(strMessage));
}

void TestHttpServer::replyForUnknownSocketIsDropped()
{
    QTcpSocket stranger;
    const int nFrom = g_printerLog.pendingLines().size();
    server.sendResponse(&stranger, QStringLiteral("{\"code\":200}"));
    QCOMPARE(messagesSince(nFrom), QStringList());
    QCOMPARE(stranger.bytesToWrite(), 0);
}

void TestHttpServer::idleConnectionIsClosed()
{
    server.setIdleTimeoutMs(300);
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    const QString strPort = QString::number(socket.localPort());
    const int nFrom = g_printerLog.pendingLines().size();
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 0, 5000);
    QCOMPARE(messagesSince(nFrom).value(0), QStringLiteral("http连接空闲超时，远程端口:%1，关闭连接").arg(strPort));
    QCOMPARE(messagesSince(nFrom).value(1), QStringLiteral("HTTP连接断开,port:%1").arg(strPort));
    server.setIdleTimeoutMs(30000);
}

void TestHttpServer::trafficKeepsConnectionOpen()
{
    server.setIdleTimeoutMs(1500);
    QTcpSocket socket;
    QVERIFY(connectTo(socket));
    QElapsedTimer timer;
    timer.start();
    const QByteArray baRequest = buildPost("{\"Msg\":\"x\"}");
    // Ten reads 300 ms apart span twice the idle time; each restarts the timer.
    for (int i = 0; i < 10; ++i) {
        socket.write(baRequest.mid(i * baRequest.size() / 10, baRequest.size() / 10 + 1));
        QTest::qWait(300);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }
    QVERIFY(timer.elapsed() > 3000);
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 10000);
    server.setIdleTimeoutMs(30000);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_http_server.moc"

// The HTTP server of the real service binary, seen byte by byte from a client socket.
#include <QTcpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"

static QByteArray reply(const QByteArray &baBody)
{
    return "HTTP/1.1 200 OK\r\nAccess-Control-Allow-origin: *\r\nContent-Type:application/json\r\nContent-Length:"
           + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

class TestHttpService : public QObject
{
    Q_OBJECT
    ServiceInstance service;

    // Connects, writes the bytes, and collects what arrives until nReplies replies came or the server closed.
    static QByteArray exchange(QTcpSocket &socket, const QByteArray &baRequest, int nReplies = 0)
    {
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
            socket.waitForConnected(5000);
        }
        socket.write(baRequest);
        QByteArray baReceived;
        QElapsedTimer timer;
        timer.start();
        while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 5000 && nReplies >= 0
               && (!nReplies || replyBodies(baReceived).size() < nReplies)) {
            socket.waitForReadyRead(100);
            baReceived += socket.readAll();
        }
        return baReceived + socket.readAll();
    }

private slots:
    void initTestCase() { QVERIFY(service.start()); }

    // Byte-exact replies, the length counting UTF-8 bytes; pipelined requests answered in order on an open connection.
    void repliesInOrderOnKeptConnection()
    {
        QCOMPARE(httpExchange(buildPost(QStringLiteral("{\"Msg\":\"SetRoomArea\",\"区域\":\"大厅\"}").toUtf8())), reply("{\"code\":200}"));
        QTcpSocket socket;
        const QByteArray baSecond = buildPost("{\"Msg\":\"\",\"data\":\"\"}"), baThird = buildPost("{\"Msg\":\"GetRoomArea\"}");
        QCOMPARE(exchange(socket, buildPost("{\"Msg\":\"Unknown\"}") + baSecond + baThird, 3),
                 reply("{\"code\":0}") + reply("{\"code\":1}") + reply(QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"区域\": \"大厅\"\n}\n").toUtf8()));
        QVERIFY(service.waitForLog(QStringLiteral("http连接，读取到下个请求内容， %1").arg(baSecond.size() + baThird.size())));
        QCOMPARE(exchange(socket, buildPost("{\"Msg\":\"Unknown\"}"), 1), reply("{\"code\":0}"));
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }

    // A connection closed by the client logs the socket error, then the disconnect.
    void connectAndCloseLogsErrorThenDisconnect()
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        QVERIFY(socket.waitForConnected(5000));
        const QString strDisconnect = QStringLiteral("HTTP连接断开,port:%1 (").arg(socket.localPort());
        socket.disconnectFromHost();
        QVERIFY(service.waitForLog(strDisconnect));
        const QStringList lstLines = service.readLog().split('\n');
        const int nIndex = lstLines.indexOf(QRegularExpression(".*" + QRegularExpression::escape(strDisconnect) + ".*"));
        QVERIFY(nIndex > 0);
        QVERIFY2(lstLines.at(nIndex - 1).contains(QStringLiteral("] Http连接Socket error: 1 - ")), qPrintable(lstLines.at(nIndex - 1)));
    }

    void refusedAndClosed_data()
    {
        QTest::addColumn<QByteArray>("baRequest");
        QTest::addColumn<QString>("strLine");
        const QByteArray baGet = "GET /status HTTP/1.1\r\nHost: 127.0.0.1:12380\r\n\r\n";
        QTest::newRow("GET") << baGet << QStringLiteral("http连接不是POST请求, 远程端口:%1, 内容:") + QString::fromLatin1(baGet) + " (";
        QTest::newRow("header without end") << QByteArray("POST / HTTP/1.1\r\nX: ") + QByteArray(70000, 'a')
                                            << QStringLiteral("http连接头部过大，远程端口:%1，已接收:");
        QTest::newRow("announced body") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 40000000\r\n\r\n{}")
                                        << QStringLiteral("http连接Body过大，远程端口:%1，Content-Length:40000000，关闭连接");
    }
    void refusedAndClosed()
    {
        QFETCH(QByteArray, baRequest);
        QFETCH(QString, strLine);
        QTcpSocket socket;
        QCOMPARE(exchange(socket, QByteArray(), -1), QByteArray()); // connected, nothing yet
        const quint16 unPort = socket.localPort();
        QCOMPARE(exchange(socket, baRequest), QByteArray());
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(service.waitForLog(strLine.arg(unPort)));
        QVERIFY(service.waitForLog(QStringLiteral("HTTP连接断开,port:%1 (").arg(unPort)));
    }
};

QTEST_GUILESS_MAIN(TestHttpService)
#include "tst_http_service.moc"

// The HTTP server of the real service binary, seen byte by byte from a client socket, and called by a real
// browser the way the cashier page does: a cross-origin fetch() POST from a file:// page.
#include <QTcpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"

static QByteArray reply(const QByteArray &baBody)
{
    return "HTTP/1.1 200 OK\r\nAccess-Control-Allow-origin: *\r\nContent-Type:application/json\r\nContent-Length:" + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

class TestHttpService : public QObject
{
    Q_OBJECT
    ServiceInstance service;
private slots:
    void initTestCase() { QVERIFY(service.start()); }
    // Byte-exact replies, the length counting UTF-8 bytes; pipelined requests answered in order on a kept connection.
    void repliesInOrderOnKeptConnection()
    {
        QCOMPARE(httpExchange(buildPost(QStringLiteral("{\"Msg\":\"SetRoomArea\",\"区域\":\"大厅\"}").toUtf8())), reply("{\"code\":200}"));
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        const auto fnExchange = [&](const QByteArray &baRequest, int nReplies) {
            QByteArray baReceived;
            socket.write(baRequest);
            return QTest::qWaitFor([&] { return (baReceived += socket.readAll(), replyBodies(baReceived).size() >= nReplies); }, 5000) ? baReceived : "timed out: " + baReceived;
        };
        const QByteArray baSecond = buildPost("{\"Msg\":\"\",\"data\":\"\"}"), baThird = buildPost("{\"Msg\":\"GetRoomArea\"}");
        QCOMPARE(fnExchange(buildPost("{\"Msg\":\"Unknown\"}") + baSecond + baThird, 3),
                 reply("{\"code\":0}") + reply("{\"code\":1}") + reply(QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"区域\": \"大厅\"\n}\n").toUtf8()));
        QVERIFY(service.waitForLog(QStringLiteral("http连接，读取到下个请求内容， %1").arg(baSecond.size() + baThird.size())));
        QCOMPARE(fnExchange(buildPost("{\"Msg\":\"Unknown\"}"), 1), reply("{\"code\":0}"));
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }
    void browserFetchFromAnotherOrigin()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/chromium")))
            QSKIP("chromium is not installed");
        QTemporaryDir dir;
        QFile page(dir.filePath(QStringLiteral("page.html")));
        QVERIFY(page.open(QIODevice::WriteOnly) && page.write(R"(<!DOCTYPE html><meta charset="utf-8"><pre id="out">pending</pre><script>
const post = (obj) => fetch('http://127.0.0.1:12380/', {method: 'POST', headers: {'Content-Type': 'text/plain'},
                                                       body: JSON.stringify(obj)}).then(r => r.text());
post({Msg: 'SetRoomArea', hall: '大厅', rooms: [1, 2]})
  .then(first => post({Msg: 'GetRoomArea'}).then(second => first + '|' + second))
  .then(text => { out.textContent = 'OK:' + text; }, err => { out.textContent = 'ERR:' + err; });
</script>)") > 0 && page.flush());
        QProcess browser;
        browser.start(QStringLiteral("/usr/bin/chromium"), {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                       "--disable-component-update", "--disable-sync", "--user-data-dir=" + dir.filePath("profile"), "--virtual-time-budget=5000", "--dump-dom", "file://" + page.fileName()});
        QVERIFY(browser.waitForFinished(60000));
        const QString strDom = QString::fromUtf8(browser.readAllStandardOutput());
        const QString strDocument = QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"hall\": \"大厅\",\n    \"rooms\": [\n        1,\n        2\n    ]\n}\n");
        QVERIFY2(strDom.contains(QStringLiteral("OK:{\"code\":200}|") + strDocument), qPrintable(strDom.right(600)));
    }
};

QTEST_GUILESS_MAIN(TestHttpService)
#include "tst_http_service.moc"

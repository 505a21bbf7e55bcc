// A real browser calls the service the way the cashier page does: a cross-origin fetch() POST.
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "common/ServiceInstance.h"

namespace {
const char *const kChromium = "/usr/bin/chromium";
const quint16 kPagePort = 18080;  // a different origin than the service's port 12380

const QByteArray kPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"></head><body><pre id="out">pending</pre>
<script>
const post = (obj) => fetch('http://127.0.0.1:12380/', {method: 'POST', headers: {'Content-Type': 'text/plain'},
                                                       body: JSON.stringify(obj)}).then(r => r.text());
post({Msg: 'SetRoomArea', hall: '大厅', rooms: [1, 2]})
  .then(first => post({Msg: 'GetRoomArea'}).then(second => first + '|' + second))
  .then(text => { document.getElementById('out').textContent = 'OK:' + text; })
  .catch(err => { document.getElementById('out').textContent = 'ERR:' + err; });
</script></body></html>
)";

// Serves the page above for any request on 127.0.0.1:kPagePort.
class PageServer : public QTcpServer
{
public:
    PageServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *pSocket = nextPendingConnection()) {
                connect(pSocket, &QTcpSocket::readyRead, pSocket, [pSocket] {
                    if (!pSocket->readAll().contains("\r\n\r\n"))
                        return;
                    pSocket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
                                   "Content-Length: " + QByteArray::number(kPage.size()) + "\r\n\r\n" + kPage);
                    pSocket->disconnectFromHost();
                });
                connect(pSocket, &QTcpSocket::disconnected, pSocket, &QObject::deleteLater);
            }
        });
    }
};
}

class TestHttpBrowser : public QObject
{
    Q_OBJECT
private slots:
    void fetchFromAnotherOrigin();
};

void TestHttpBrowser::fetchFromAnotherOrigin()
{
    if (!QFile::exists(QString::fromLatin1(kChromium)))
        QSKIP("chromium is not installed");
    ServiceInstance service;
    QVERIFY(service.start());
    PageServer pageServer;
    QVERIFY(pageServer.listen(QHostAddress::LocalHost, kPagePort));

    QTemporaryDir profileDir;
    QProcess browser;
    browser.setProcessChannelMode(QProcess::SeparateChannels);
    browser.start(QString::fromLatin1(kChromium),
                  {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + profileDir.path(), "--virtual-time-budget=5000", "--dump-dom",
                   QStringLiteral("http://127.0.0.1:%1/").arg(kPagePort)});
    // The page server lives on this thread's loop, so wait without blocking it.
    QTRY_COMPARE_WITH_TIMEOUT(browser.state(), QProcess::NotRunning, 60000);
    const QString strDom = QString::fromUtf8(browser.readAllStandardOutput());

    const QString strDocument =
        QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"hall\": \"大厅\",\n    \"rooms\": [\n        1,\n        2\n    ]\n}\n");
    QVERIFY2(strDom.contains(QStringLiteral("OK:{\"code\":200}|") + strDocument),
             qPrintable(strDom.right(600)));
}

QTEST_GUILESS_MAIN(TestHttpBrowser)
#include "tst_http_browser.moc"

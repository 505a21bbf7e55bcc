// The listener, the connection cap, the idle scan and the listen and accept retries; each
// connection's own flow is HttpConnection's.
#include "server/HttpServer.h"

#include <QDeadlineTimer>
#include <QHostAddress>

#include <vector>

#include "log/Log.h"
#include "server/HttpConnection.h"

CHttpServer::CHttpServer(IHttpRequestHandler *pHandler, quint16 nPort, QObject *pParent)
    : QObject(pParent)
    , pHandler(pHandler)
    , nPort(nPort)
{
    connect(&tcpServer, QOverload<int>::of(&CMultiTcpServer::newConnection), this, &CHttpServer::onNewConnection);
    connect(&tcpServer, &QTcpServer::acceptError, this, &CHttpServer::onAcceptError);
    connect(&timerIdle, &QTimer::timeout, this, &CHttpServer::onIdleScan);
    setIdleTimeoutMs(nIdleMs);
    timerListenRetry.setSingleShot(true);
    timerListenRetry.setInterval(kListenRetryMs);
    connect(&timerListenRetry, &QTimer::timeout, this, &CHttpServer::start);
}

CHttpServer::~CHttpServer()
{
    close();
}

bool CHttpServer::start()
{
    if (tcpServer.isListening() || tcpServer.listen(QHostAddress::Any, nPort)) {
        if (!strListenError.isEmpty())
            WRITE_LOG(g_printerLog, QStringLiteral("HTTP端口%1已开始监听").arg(nPort));
        setListenError(QString());
        return true;
    }
    // Logged once per reason: the retry runs for as long as the port stays taken.
    const QString strReason = tcpServer.errorString();
    if (strReason != strListenError)
        WRITE_LOG(g_printerLog, QStringLiteral("HTTP端口%1监听失败：%2，每%3秒重试")
                                    .arg(nPort)
                                    .arg(strReason)
                                    .arg(kListenRetryMs / 1000));
    setListenError(strReason);
    timerListenRetry.start();
    return false;
}

void CHttpServer::setListenError(const QString &strError)
{
    if (strError == strListenError)
        return;
    strListenError = strError;
    emit listenErrorChanged(strError);
}

void CHttpServer::close()
{
    timerListenRetry.stop();
    tcpServer.close();
}

void CHttpServer::setIdleTimeoutMs(int nMs)
{
    nIdleMs = nMs;
    // A silent connection is closed between nIdleMs and 1.1 x nIdleMs after its last bytes.
    timerIdle.setInterval(qMax(nMs / 10, 50));
}

void CHttpServer::onNewConnection(int nSocketDescriptor)
{
    auto *pConnection = new HttpConnection(nSocketDescriptor, pHandler, this);
    if (!pConnection->open()) {
        delete pConnection;
        return;
    }
    if (connectionCount() >= nMaxConnections) {
        WRITE_LOG(g_printerLog, QStringLiteral("http连接数已达上限%1，远程端口:%2，关闭连接")
                                    .arg(nMaxConnections)
                                    .arg(pConnection->peerPort()));
        delete pConnection;
        return;
    }
    connect(pConnection, &HttpConnection::closed, this, &CHttpServer::onConnectionClosed);
    setConnections.insert(pConnection);
    if (!timerIdle.isActive())
        timerIdle.start();
}

void CHttpServer::onConnectionClosed(HttpConnection *pConnection)
{
    setConnections.remove(pConnection);
    // It may be closing inside one of its own calls.
    pConnection->deleteLater();
    if (setConnections.isEmpty())
        timerIdle.stop();
}

// The listener stops accepting after an error such as running out of descriptors; it is given
// another chance a second later, when connections may have closed.
void CHttpServer::onAcceptError(QAbstractSocket::SocketError socketError)
{
    WRITE_LOG(g_printerLog, QStringLiteral("HTTP端口%1接受连接失败: %2 - %3，1秒后重试")
                                .arg(nPort)
                                .arg(int(socketError))
                                .arg(tcpServer.errorString()));
    QTimer::singleShot(1000, &tcpServer, [this] {
        if (tcpServer.isListening())  // not closed meanwhile
            tcpServer.resumeAccepting();
    });
}

void CHttpServer::onIdleScan()
{
    const qint64 llNow = QDeadlineTimer::current().deadline();
    std::vector<HttpConnection *> vecSilent;
    for (HttpConnection *pConnection : qAsConst(setConnections))
        if (llNow - pConnection->lastActiveMs() >= nIdleMs)
            vecSilent.push_back(pConnection);
    for (HttpConnection *pConnection : vecSilent) {
        WRITE_LOG(g_printerLog, QStringLiteral("http连接空闲超时，远程端口:%1，关闭连接").arg(pConnection->peerPort()));
        // Closed without waiting to flush: a peer that neither sends nor reads must not keep it.
        pConnection->close();
    }
}

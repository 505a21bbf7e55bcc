// The framing decisions live in CHttpRequestParser; this file only turns them into socket work.
#include "server/HttpServer.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "log/Log.h"
#include "server/HttpRequestParser.h"

namespace {
// Log text of received bytes: UTF-8 up to the first zero byte.
QString textUpToZero(const QByteArray &baData)
{
    const int nZero = baData.indexOf('\0');
    return QString::fromUtf8(nZero < 0 ? baData : baData.left(nZero));
}

qint64 monotonicMs()
{
    return QDeadlineTimer::current().deadline();
}

QByteArray buildReply(const QString &strReply)
{
    static const QByteArray kHead = QByteArrayLiteral("HTTP/1.1 200 OK\r\n"
                                                      "Access-Control-Allow-origin: *\r\n"
                                                      "Content-Type:application/json\r\n"
                                                      "Content-Length:");
    QByteArray baBody = strReply.toUtf8();
    const int nZero = baBody.indexOf('\0');
    if (nZero >= 0)
        baBody.truncate(nZero);
    // One buffer for the whole message: the reply is handed to the socket in one piece.
    const QByteArray baLength = QByteArray::number(baBody.size());
    QByteArray baMessage;
    baMessage.reserve(kHead.size() + baLength.size() + 4 + baBody.size());
    baMessage.append(kHead).append(baLength).append("\r\n\r\n", 4).append(baBody);
    return baMessage;
}
}

CHttpServer::CHttpServer(IHttpRequestHandler *pHandler, quint16 nPort, QObject *pParent)
    : QObject(pParent)
    , pHandler(pHandler)
    , nPort(nPort)
{
    connect(&tcpServer, QOverload<int>::of(&CMultiTcpServer::newConnection), this, &CHttpServer::onNewConnection);
}

CHttpServer::~CHttpServer()
{
    close();
}

bool CHttpServer::start()
{
    return tcpServer.listen(QHostAddress::Any, nPort);
}

void CHttpServer::close()
{
    tcpServer.close();
}

void CHttpServer::onNewConnection(int nSocketDescriptor)
{
    auto pAdopted = std::make_unique<QTcpSocket>(this);
    if (!pAdopted->setSocketDescriptor(nSocketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite))
        return;
    QTcpSocket *pSocket = pAdopted.release();  // a child of the server from here on
    // Qt drops socket options set before a descriptor is adopted, so both go here.
    pSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    pSocket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (!mapConnections.contains(pSocket)) {
        HttpConnection connection;
        connection.llLastDataMs = monotonicMs();
        connection.pIdleTimer = startIdleTimer(pSocket);
        mapConnections.insert(pSocket, connection);
    }
    connect(pSocket, &QTcpSocket::readyRead, this, &CHttpServer::onReadyRead);
    connect(pSocket, &QTcpSocket::disconnected, this, &CHttpServer::onDisconnected);
    connect(pSocket, &QTcpSocket::errorOccurred, this, &CHttpServer::onSocketError);
}

QTimer *CHttpServer::startIdleTimer(QTcpSocket *pSocket)
{
    QTimer *pTimer = new QTimer(this);
    pTimer->setSingleShot(true);
    pTimer->setInterval(nIdleMs);
    // Reads only stamp the record; re-arming the timer on every read cost more than the request.
    // So the timer checks the stamp when it fires and waits out the rest of the silence if data came.
    connect(pTimer, &QTimer::timeout, pSocket, [this, pSocket, pTimer] {
        const auto it = mapConnections.constFind(pSocket);
        const qint64 llSilentMs = it == mapConnections.constEnd() ? nIdleMs : monotonicMs() - it->llLastDataMs;
        if (llSilentMs < nIdleMs) {
            pTimer->start(int(nIdleMs - llSilentMs));
            return;
        }
        WRITE_LOG(g_printerLog, QStringLiteral("http连接空闲超时，远程端口:%1，关闭连接").arg(pSocket->peerPort()));
        // abort(), not close(): a peer that neither sends nor reads must not keep the socket waiting to flush.
        pSocket->abort();
    });
    pTimer->start();
    return pTimer;
}

void CHttpServer::onDisconnected()
{
    QTcpSocket *pSocket = qobject_cast<QTcpSocket *>(sender());
    if (!pSocket)
        return;
    WRITE_LOG(g_printerLog, QStringLiteral("HTTP连接断开,port:%1").arg(pSocket->peerPort()));
    const auto it = mapConnections.find(pSocket);
    if (it != mapConnections.end()) {
        if (it->pIdleTimer) {
            it->pIdleTimer->stop();
            it->pIdleTimer->deleteLater();
        }
        mapConnections.erase(it);
    }
    disconnect(pSocket, nullptr, nullptr, nullptr);
    pSocket->deleteLater();
}

void CHttpServer::onSocketError(QAbstractSocket::SocketError socketError)
{
    QTcpSocket *pSocket = qobject_cast<QTcpSocket *>(sender());
    if (!pSocket)
        return;
    WRITE_LOG(g_printerLog, QStringLiteral("Http连接Socket error: %1 - %2")
                                .arg(static_cast<int>(socketError))
                                .arg(pSocket->errorString()));
    // The peer's own close is followed by disconnected() anyway.
    if (socketError != QAbstractSocket::RemoteHostClosedError)
        pSocket->close();
}

void CHttpServer::onReadyRead()
{
    QTcpSocket *pSocket = qobject_cast<QTcpSocket *>(sender());
    const auto it = mapConnections.find(pSocket);
    if (!pSocket || it == mapConnections.end()) {
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，未找到socket，连接已关闭"));
        return;
    }
    it->llLastDataMs = monotonicMs();
    const QByteArray baNew = pSocket->readAll();
    if (pSocket->bytesAvailable() > 0)
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，数据未读取完全,远程端口:%1").arg(pSocket->peerPort()));
    const QList<HttpFrameEvent> lstEvents = CHttpRequestParser::feed(it->nContentLength, it->baRecv, baNew);
    for (const HttpFrameEvent &event : lstEvents)
        handleFrameEvent(pSocket, event);
}

void CHttpServer::handleFrameEvent(QTcpSocket *pSocket, const HttpFrameEvent &event)
{
    const quint16 nPort = pSocket->peerPort();
    switch (event.eKind) {
    case HttpFrameEvent::HeaderIncomplete:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，远程端口:%1，头部不完整，等待更多数据").arg(nPort));
        break;
    case HttpFrameEvent::NotPost:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接不是POST请求, 远程端口:%1, 内容:%2")
                                    .arg(QString::number(nPort), textUpToZero(event.baData)));
        pSocket->close();
        break;
    case HttpFrameEvent::BodyIncomplete:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接Body不完整，等待接受更多数据，远程端口:%1").arg(nPort));
        break;
    case HttpFrameEvent::Request:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，远程端口：%1，请求:%2")
                                    .arg(QString::number(nPort), textUpToZero(event.baData)));
        dispatchRequest(pSocket, event.baData);
        break;
    case HttpFrameEvent::NextRequest:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，读取到下个请求内容， %1").arg(event.nValue));
        break;
    case HttpFrameEvent::LimitExceeded:
        logLimitExceeded(nPort, event);
        pSocket->close();
        break;
    }
}

void CHttpServer::dispatchRequest(QTcpSocket *pSocket, const QByteArray &baBody)
{
    const auto it = mapConnections.find(pSocket);
    if (it == mapConnections.end())
        return;
    // Numbered across all connections: a late reply never matches a slot of a connection that
    // happens to reuse a closed socket's address.
    const quint64 ullRequest = ++ullLastRequest;
    it->vecPending.append(PendingReply{ullRequest, false, QString()});
    // A reply that comes after the server is gone is dropped like one to a closed connection.
    const QPointer<CHttpServer> pThis(this);
    pHandler->handleRequest(baBody, [pThis, pSocket, ullRequest](const QString &strReply) {
        if (pThis)
            pThis->completeReply(pSocket, ullRequest, strReply);
    });
}

void CHttpServer::completeReply(QTcpSocket *pSocket, quint64 ullRequest, const QString &strReply)
{
    auto it = mapConnections.find(pSocket);
    if (it == mapConnections.end())
        return;  // the connection closed meanwhile: dropped like any reply to a closed connection
    const auto itSlot = std::find_if(it->vecPending.begin(), it->vecPending.end(),
                                     [ullRequest](const PendingReply &reply) { return reply.ullRequest == ullRequest; });
    if (itSlot == it->vecPending.end())
        return;
    itSlot->bReady = true;
    itSlot->strReply = strReply;
    while (it != mapConnections.end() && !it->vecPending.isEmpty() && it->vecPending.first().bReady) {
        const QString strNext = it->vecPending.takeFirst().strReply;
        sendResponse(pSocket, strNext);
        it = mapConnections.find(pSocket);
    }
}

void CHttpServer::logLimitExceeded(quint16 nPort, const HttpFrameEvent &event)
{
    if (event.eLimit == HttpFrameEvent::HeaderSize)
        WRITE_LOG(g_printerLog, QStringLiteral("http连接头部过大，远程端口:%1，已接收:%2字节，关闭连接")
                                    .arg(nPort)
                                    .arg(event.nValue));
    else
        WRITE_LOG(g_printerLog, QStringLiteral("http连接Body过大，远程端口:%1，Content-Length:%2，关闭连接")
                                    .arg(nPort)
                                    .arg(event.nValue));
}

void CHttpServer::sendResponse(QTcpSocket *pSocket, const QString &strReply)
{
    const QByteArray baMessage = buildReply(strReply);
    const auto it = mapConnections.find(pSocket);
    if (it == mapConnections.end())
        return;
    it->lstSend.append(baMessage);
    if (it->lstSend.size() != 1)
        return;
    connect(pSocket, &QTcpSocket::bytesWritten, this, &CHttpServer::onBytesWritten);
    it->nSent = 0;
    const qint64 nWritten = pSocket->write(baMessage);
    if (nWritten <= 0)
        WRITE_LOG(g_printerLog, QStringLiteral("http连接缓冲区已满，远程接收端口:%1").arg(pSocket->peerPort()));
    else
        it->nSent = static_cast<quint32>(nWritten);
}

void CHttpServer::onBytesWritten(qint64 nBytesWritten)
{
    Q_UNUSED(nBytesWritten);
    QTcpSocket *pSocket = qobject_cast<QTcpSocket *>(sender());
    const auto it = mapConnections.find(pSocket);
    if (!pSocket || it == mapConnections.end() || it->lstSend.isEmpty()) {
        WRITE_LOG(g_printerLog, QStringLiteral("http连接发送状态，远程接收端口：%1 数据发送完")
                                    .arg(pSocket ? pSocket->peerPort() : 0));
        return;
    }
    const QByteArray baHead = it->lstSend.first();
    const quint32 unHeadSize = static_cast<quint32>(baHead.size());
    if (it->nSent < unHeadSize) {
        const qint64 nWritten = pSocket->write(baHead.constData() + it->nSent, unHeadSize - it->nSent);
        if (nWritten <= 0)
            WRITE_LOG(g_printerLog, QStringLiteral("http连接缓冲区已满，远程接受端口:%1").arg(pSocket->peerPort()));
        else
            it->nSent += static_cast<quint32>(nWritten);
        if (it->nSent < unHeadSize)
            return;
    }
    it->lstSend.removeFirst();
    if (!it->lstSend.isEmpty()) {
        it->nSent = 0;
        const qint64 nWritten = pSocket->write(it->lstSend.first());
        if (nWritten > 0)
            it->nSent = static_cast<quint32>(nWritten);
        return;
    }
    disconnect(pSocket, &QTcpSocket::bytesWritten, this, &CHttpServer::onBytesWritten);
}

// The framing decisions live in CHttpRequestParser and the descriptor work in CTcpChannel; this
// file keeps the connections: reads, replies in order, backpressure, the idle close, the listener.
#include "server/HttpServer.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QPointer>

#include <algorithm>

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
    // One buffer for the whole message: the reply is handed to the kernel in one piece.
    const QByteArray baLength = QByteArray::number(baBody.size());
    QByteArray baMessage;
    baMessage.reserve(kHead.size() + baLength.size() + 4 + baBody.size());
    baMessage.append(kHead).append(baLength).append("\r\n\r\n", 4).append(baBody);
    return baMessage;
}

void logLimitExceeded(quint16 nPort, const HttpFrameEvent &event)
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
}

CHttpServer::CHttpServer(IHttpRequestHandler *pHandler, quint16 nPort, QObject *pParent)
    : QObject(pParent)
    , pHandler(pHandler)
    , nPort(nPort)
    , baReadBuffer(kReadChunkBytes, Qt::Uninitialized)
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

HttpConnection *CHttpServer::findConnection(int nFd) const
{
    const auto it = mapConnections.find(nFd);
    return it == mapConnections.end() ? nullptr : it->second.get();
}

void CHttpServer::onNewConnection(int nSocketDescriptor)
{
    auto pConnection = std::make_unique<HttpConnection>(nSocketDescriptor);
    if (!pConnection->channel.prepare())
        return;  // the record's channel closes the descriptor
    if (connectionCount() >= nMaxConnections) {
        WRITE_LOG(g_printerLog, QStringLiteral("http连接数已达上限%1，远程端口:%2，关闭连接")
                                    .arg(nMaxConnections)
                                    .arg(pConnection->channel.peerPort()));
        return;
    }
    HttpConnection *pRecord = pConnection.get();
    pRecord->llLastActiveMs = monotonicMs();
    pRecord->channel.onReadable(this, [this, pRecord] { onReadyRead(*pRecord); });
    mapConnections.emplace(nSocketDescriptor, std::move(pConnection));
    if (!timerIdle.isActive())
        timerIdle.start();
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
    const qint64 llNow = monotonicMs();
    std::vector<HttpConnection *> vecSilent;
    for (const auto &entry : mapConnections)
        if (llNow - entry.second->llLastActiveMs >= nIdleMs)
            vecSilent.push_back(entry.second.get());
    for (HttpConnection *pConnection : vecSilent) {
        WRITE_LOG(g_printerLog, QStringLiteral("http连接空闲超时，远程端口:%1，关闭连接").arg(pConnection->channel.peerPort()));
        // Closed without waiting to flush: a peer that neither sends nor reads must not keep it.
        closeConnection(*pConnection);
    }
}

void CHttpServer::onSocketError(HttpConnection &connection)
{
    WRITE_LOG(g_printerLog, QStringLiteral("Http连接Socket error: %1 - %2")
                                .arg(connection.channel.errorCode())
                                .arg(connection.channel.errorString()));
    closeConnection(connection);
}

void CHttpServer::closeConnection(HttpConnection &connection)
{
    if (connection.bClosed)
        return;
    connection.bClosed = true;
    WRITE_LOG(g_printerLog, QStringLiteral("HTTP连接断开,port:%1").arg(connection.channel.peerPort()));
    const auto it = mapConnections.find(connection.nFd);
    connection.channel.close();
    if (it == mapConnections.end() || it->second.get() != &connection)
        return;
    if (vecClosed.empty())
        QMetaObject::invokeMethod(this, [this] { vecClosed.clear(); }, Qt::QueuedConnection);
    vecClosed.push_back(std::move(it->second));
    mapConnections.erase(it);
    if (mapConnections.empty())
        timerIdle.stop();
}

// Like a socket's close(): the replies already queued still go out whole, then the connection ends.
// Nothing more is read or answered meanwhile; the idle close bounds a peer that stops reading.
void CHttpServer::closeAfterFlush(HttpConnection &connection)
{
    if (connection.lstSend.isEmpty()) {
        closeConnection(connection);
        return;
    }
    connection.bClosing = true;
    connection.vecPending.clear();
    pauseReading(connection);
}

void CHttpServer::onReadyRead(HttpConnection &connection)
{
    connection.llLastActiveMs = monotonicMs();
    // A few reads per turn at most, so one fast sender cannot hold the loop from the others.
    for (int nReads = 0; nReads < kReadsPerTurn; ++nReads) {
        const qint64 nRead = connection.channel.read(baReadBuffer.data(), baReadBuffer.size());
        if (nRead == CTcpChannel::WouldBlock)
            return;
        if (nRead < 0) {
            onSocketError(connection);
            return;
        }
        consume(connection, baReadBuffer.constData(), int(nRead));
        // A short read emptied the kernel's buffer; a full one may have left more.
        if (connection.bClosed || connection.bPaused || nRead < baReadBuffer.size())
            return;
    }
}

void CHttpServer::consume(HttpConnection &connection, const char *pData, int nSize)
{
    if (!connection.baRecv.isEmpty()) {
        connection.baRecv.append(pData, nSize);
        processBuffered(connection);
        return;
    }
    // The usual case: whole requests in one read are framed in the read buffer, without a copy.
    const int nPos = frameRequests(connection, QByteArray::fromRawData(pData, nSize));
    if (!connection.bClosed && nPos < nSize)
        connection.baRecv = QByteArray(pData + nPos, nSize - nPos);
}

void CHttpServer::processBuffered(HttpConnection &connection)
{
    QByteArray baBuffer;
    baBuffer.swap(connection.baRecv);
    const int nPos = frameRequests(connection, baBuffer);
    if (!connection.bClosed && nPos < baBuffer.size())
        connection.baRecv = nPos == 0 ? baBuffer : baBuffer.mid(nPos);
}

// Dispatches the buffer's requests until one is incomplete, the connection closes or its replies
// pile up. Returns how many bytes were consumed.
int CHttpServer::frameRequests(HttpConnection &connection, const QByteArray &baBuffer)
{
    int nPos = 0;
    while (nPos < baBuffer.size() && !overBounds(connection)) {
        const HttpFrameEvent event = CHttpRequestParser::next(connection.nContentLength, baBuffer, nPos);
        if (!handleFrameEvent(connection, event))
            return nPos;
        if (nPos < baBuffer.size())
            WRITE_LOG(g_printerLog, QStringLiteral("http连接，读取到下个请求内容， %1").arg(baBuffer.size() - nPos));
    }
    if (overBounds(connection))
        pauseReading(connection);
    return nPos;
}

// Logs the event and acts on it; false when framing stops here for now.
bool CHttpServer::handleFrameEvent(HttpConnection &connection, const HttpFrameEvent &event)
{
    const quint16 nPeerPort = connection.channel.peerPort();
    switch (event.eKind) {
    case HttpFrameEvent::HeaderIncomplete:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，远程端口:%1，头部不完整，等待更多数据").arg(nPeerPort));
        return false;
    case HttpFrameEvent::NotPost:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接不是POST请求, 远程端口:%1, 内容:%2")
                                    .arg(QString::number(nPeerPort), textUpToZero(event.baData)));
        closeAfterFlush(connection);
        return false;
    case HttpFrameEvent::BodyIncomplete:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接Body不完整，等待接受更多数据，远程端口:%1").arg(nPeerPort));
        return false;
    case HttpFrameEvent::Request:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，远程端口：%1，请求:%2")
                                    .arg(QString::number(nPeerPort), textUpToZero(event.baData)));
        dispatchRequest(connection, event.baData);
        return !connection.bClosed;
    case HttpFrameEvent::NextRequest:
        return true;
    case HttpFrameEvent::LimitExceeded:
        logLimitExceeded(nPeerPort, event);
        closeAfterFlush(connection);
        return false;
    }
    return false;
}

void CHttpServer::dispatchRequest(HttpConnection &connection, const QByteArray &baBody)
{
    // Numbered across all connections: a late reply never matches a slot of a connection that
    // reuses a closed connection's descriptor.
    const quint64 ullRequest = ++ullLastRequest;
    connection.vecPending.append(PendingReply{ullRequest, false, QString()});
    // A reply that comes after the server is gone is dropped like one to a closed connection.
    const QPointer<CHttpServer> pThis(this);
    pHandler->handleRequest(baBody, [pThis, nFd = connection.nFd, ullRequest](const QString &strReply) {
        if (pThis)
            pThis->completeReply(nFd, ullRequest, strReply);
    });
}

void CHttpServer::completeReply(int nFd, quint64 ullRequest, const QString &strReply)
{
    HttpConnection *pConnection = findConnection(nFd);
    if (!pConnection)
        return;  // the connection closed meanwhile: dropped like any reply to a closed connection
    QVector<PendingReply> &vecPending = pConnection->vecPending;
    const auto itSlot = std::find_if(vecPending.begin(), vecPending.end(),
                                     [ullRequest](const PendingReply &reply) { return reply.ullRequest == ullRequest; });
    if (itSlot == vecPending.end())
        return;
    itSlot->bReady = true;
    itSlot->strReply = strReply;
    while (!pConnection->bClosed && !vecPending.isEmpty() && vecPending.first().bReady)
        sendResponse(*pConnection, vecPending.takeFirst().strReply);
    resumeIfDrained(*pConnection);
}

void CHttpServer::sendResponse(HttpConnection &connection, const QString &strReply)
{
    const QByteArray baMessage = buildReply(strReply);
    connection.lstSend.append(baMessage);
    connection.llUnsent += baMessage.size();
    if (connection.lstSend.size() != 1)
        return;  // written when the replies before it have gone
    connection.nSent = 0;
    writeQueued(connection, true);
}

// Hands the queued replies to the kernel, as many as it takes in one call; the write watch
// finishes the job when it takes only part.
void CHttpServer::writeQueued(HttpConnection &connection, bool bNewHead)
{
    const int nCount = qMin(connection.lstSend.size(), CTcpChannel::kMaxPieces);
    const char *apData[CTcpChannel::kMaxPieces];
    qint64 anSizes[CTcpChannel::kMaxPieces];
    for (int i = 0; i < nCount; ++i) {
        const int nSkip = i == 0 ? int(connection.nSent) : 0;
        apData[i] = connection.lstSend.at(i).constData() + nSkip;
        anSizes[i] = connection.lstSend.at(i).size() - nSkip;
    }
    const qint64 nWritten = nCount == 1 ? connection.channel.write(apData[0], anSizes[0])
                                        : connection.channel.writev(apData, anSizes, nCount);
    if (nWritten < 0) {
        onSocketError(connection);
        return;
    }
    if (nWritten == CTcpChannel::WouldBlock)
        WRITE_LOG(g_printerLog, (bNewHead ? QStringLiteral("http连接缓冲区已满，远程接收端口:%1")
                                          : QStringLiteral("http连接缓冲区已满，远程接受端口:%1"))
                                    .arg(connection.channel.peerPort()));
    consumeWritten(connection, nWritten);
    connection.channel.watchWritable(!connection.lstSend.isEmpty(), this, [this, pConnection = &connection] {
        onWritable(*pConnection);
    });
}

void CHttpServer::consumeWritten(HttpConnection &connection, qint64 nWritten)
{
    if (nWritten > 0)
        connection.llLastActiveMs = monotonicMs();
    connection.llUnsent -= nWritten;
    while (nWritten > 0) {
        const qint64 nHeadLeft = connection.lstSend.first().size() - qint64(connection.nSent);
        if (nWritten < nHeadLeft) {
            connection.nSent += quint32(nWritten);
            return;
        }
        nWritten -= nHeadLeft;
        connection.lstSend.removeFirst();
        connection.nSent = 0;
    }
}

void CHttpServer::onWritable(HttpConnection &connection)
{
    writeQueued(connection, false);
    if (connection.bClosing && connection.lstSend.isEmpty())
        closeConnection(connection);
    resumeIfDrained(connection);
}

bool CHttpServer::overBounds(const HttpConnection &connection) const
{
    return connection.llUnsent > kMaxUnsentBytes || connection.vecPending.size() >= kMaxPendingReplies;
}

void CHttpServer::pauseReading(HttpConnection &connection)
{
    connection.bPaused = true;
    connection.channel.setReading(false);
}

void CHttpServer::resumeIfDrained(HttpConnection &connection)
{
    if (!connection.bPaused || connection.bClosed || connection.bClosing || overBounds(connection))
        return;
    connection.bPaused = false;
    // Requests read before the pause come first; they may fill the queue again.
    if (!connection.baRecv.isEmpty())
        processBuffered(connection);
    if (!connection.bPaused && !connection.bClosed)
        connection.channel.setReading(true);
}

// The framing decisions live in CHttpRequestParser and the socket calls in CTcpChannel; this file
// keeps one connection's flow: reads, replies in order, backpressure and the close.
#include "server/HttpConnection.h"

#include <QDeadlineTimer>
#include <QPointer>

#include <algorithm>

#include "log/Log.h"
#include "server/HttpRequestHandler.h"
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

// One buffer for all connections of the thread: an idle connection holds none.
QByteArray &readBuffer()
{
    static thread_local QByteArray baBuffer(HttpConnection::kReadChunkBytes, Qt::Uninitialized);
    return baBuffer;
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

HttpConnection::HttpConnection(qintptr nSocket, IHttpRequestHandler *pHandler, QObject *pParent)
    : QObject(pParent)
    , channel(nSocket)
    , pHandler(pHandler)
    , llLastActiveMs(monotonicMs())
{
}

bool HttpConnection::open()
{
    if (!channel.prepare()) {
        channel.close();
        return false;
    }
    channel.onReadable(this, [this] { onReadable(); });
    return true;
}

void HttpConnection::close()
{
    if (!channel.isOpen())
        return;
    WRITE_LOG(g_printerLog, QStringLiteral("HTTP连接断开,port:%1").arg(channel.peerPort()));
    channel.close();
    emit closed(this);
}

void HttpConnection::onSocketError()
{
    WRITE_LOG(g_printerLog, QStringLiteral("Http连接Socket error: %1 - %2")
                                .arg(channel.errorCode())
                                .arg(channel.errorString()));
    close();
}

// Like a socket's close(): the replies already queued still go out whole, then the connection ends.
// Nothing more is read or answered meanwhile; the idle close bounds a peer that stops reading.
void HttpConnection::closeAfterFlush()
{
    if (lstSend.isEmpty()) {
        close();
        return;
    }
    bClosing = true;
    vecPending.clear();
    pauseReading();
}

void HttpConnection::onReadable()
{
    llLastActiveMs = monotonicMs();
    QByteArray &baBuffer = readBuffer();
    // A few reads per turn at most, so one fast sender cannot hold the loop from the others.
    for (int nReads = 0; nReads < kReadsPerTurn; ++nReads) {
        const qint64 nRead = channel.read(baBuffer.data(), baBuffer.size());
        if (nRead == CTcpChannel::WouldBlock)
            return;
        if (nRead < 0) {
            onSocketError();
            return;
        }
        consume(baBuffer.constData(), int(nRead));
        // A short read emptied the kernel's buffer; a full one may have left more.
        if (!channel.isOpen() || bPaused || nRead < baBuffer.size())
            return;
    }
}

void HttpConnection::consume(const char *pData, int nSize)
{
    if (!baRecv.isEmpty()) {
        baRecv.append(pData, nSize);
        processBuffered();
        return;
    }
    // The usual case: whole requests in one read are framed in the read buffer, without a copy.
    const int nPos = frameRequests(QByteArray::fromRawData(pData, nSize));
    if (channel.isOpen() && nPos < nSize)
        baRecv = QByteArray(pData + nPos, nSize - nPos);
}

void HttpConnection::processBuffered()
{
    QByteArray baBuffer;
    baBuffer.swap(baRecv);
    const int nPos = frameRequests(baBuffer);
    if (channel.isOpen() && nPos < baBuffer.size())
        baRecv = nPos == 0 ? baBuffer : baBuffer.mid(nPos);
}

// Dispatches the buffer's requests until one is incomplete, the connection closes or its replies
// pile up. Returns how many bytes were consumed.
int HttpConnection::frameRequests(const QByteArray &baBuffer)
{
    int nPos = 0;
    while (nPos < baBuffer.size() && !overBounds()) {
        const HttpFrameEvent event = CHttpRequestParser::next(nContentLength, baBuffer, nPos);
        if (!handleFrameEvent(event))
            return nPos;
        if (nPos < baBuffer.size())
            WRITE_LOG(g_printerLog, QStringLiteral("http连接，读取到下个请求内容， %1").arg(baBuffer.size() - nPos));
    }
    if (overBounds())
        pauseReading();
    return nPos;
}

// Logs the event and acts on it; false when framing stops here for now.
bool HttpConnection::handleFrameEvent(const HttpFrameEvent &event)
{
    const quint16 nPeerPort = channel.peerPort();
    switch (event.eKind) {
    case HttpFrameEvent::HeaderIncomplete:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，远程端口:%1，头部不完整，等待更多数据").arg(nPeerPort));
        return false;
    case HttpFrameEvent::NotPost:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接不是POST请求, 远程端口:%1, 内容:%2")
                                    .arg(QString::number(nPeerPort), textUpToZero(event.baData)));
        closeAfterFlush();
        return false;
    case HttpFrameEvent::BodyIncomplete:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接Body不完整，等待接受更多数据，远程端口:%1").arg(nPeerPort));
        return false;
    case HttpFrameEvent::Request:
        WRITE_LOG(g_printerLog, QStringLiteral("http连接，远程端口：%1，请求:%2")
                                    .arg(QString::number(nPeerPort), textUpToZero(event.baData)));
        dispatchRequest(event.baData);
        return channel.isOpen();
    case HttpFrameEvent::LimitExceeded:
        logLimitExceeded(nPeerPort, event);
        closeAfterFlush();
        return false;
    }
    return false;
}

void HttpConnection::dispatchRequest(const QByteArray &baBody)
{
    const quint64 ullRequest = ++ullLastRequest;
    vecPending.append(PendingReply{ullRequest, false, QString()});
    // A reply that comes after the connection is gone is dropped.
    const QPointer<HttpConnection> pThis(this);
    pHandler->handleRequest(baBody, [pThis, ullRequest](const QString &strReply) {
        if (pThis)
            pThis->completeReply(ullRequest, strReply);
    });
}

void HttpConnection::completeReply(quint64 ullRequest, const QString &strReply)
{
    const auto itSlot = std::find_if(vecPending.begin(), vecPending.end(), [ullRequest](const PendingReply &reply) {
        return reply.ullRequest == ullRequest;
    });
    if (!channel.isOpen() || itSlot == vecPending.end())
        return;  // closed meanwhile, or refused with the requests after the refusal
    itSlot->bReady = true;
    itSlot->strReply = strReply;
    while (channel.isOpen() && !vecPending.isEmpty() && vecPending.first().bReady)
        sendResponse(vecPending.takeFirst().strReply);
    resumeIfDrained();
}

void HttpConnection::sendResponse(const QString &strReply)
{
    const QByteArray baMessage = buildReply(strReply);
    lstSend.append(baMessage);
    llUnsent += baMessage.size();
    if (lstSend.size() != 1)
        return;  // written when the replies before it have gone
    nSent = 0;
    writeQueued(true);
}

// Hands the queued replies to the kernel, as many as it takes in one call; the write watch
// finishes the job when it takes only part.
void HttpConnection::writeQueued(bool bNewHead)
{
    const int nCount = qMin(lstSend.size(), CTcpChannel::kMaxPieces);
    const char *apData[CTcpChannel::kMaxPieces];
    qint64 anSizes[CTcpChannel::kMaxPieces];
    for (int i = 0; i < nCount; ++i) {
        const int nSkip = i == 0 ? int(nSent) : 0;
        apData[i] = lstSend.at(i).constData() + nSkip;
        anSizes[i] = lstSend.at(i).size() - nSkip;
    }
    const qint64 nWritten =
        nCount == 1 ? channel.write(apData[0], anSizes[0]) : channel.writev(apData, anSizes, nCount);
    if (nWritten < 0) {
        onSocketError();
        return;
    }
    if (nWritten == CTcpChannel::WouldBlock)
        WRITE_LOG(g_printerLog, (bNewHead ? QStringLiteral("http连接缓冲区已满，远程接收端口:%1")
                                          : QStringLiteral("http连接缓冲区已满，远程接受端口:%1"))
                                    .arg(channel.peerPort()));
    consumeWritten(nWritten);
    channel.watchWritable(!lstSend.isEmpty(), this, [this] { onWritable(); });
}

void HttpConnection::consumeWritten(qint64 nWritten)
{
    if (nWritten > 0)
        llLastActiveMs = monotonicMs();
    llUnsent -= nWritten;
    while (nWritten > 0) {
        const qint64 nHeadLeft = lstSend.first().size() - qint64(nSent);
        if (nWritten < nHeadLeft) {
            nSent += quint32(nWritten);
            return;
        }
        nWritten -= nHeadLeft;
        lstSend.removeFirst();
        nSent = 0;
    }
}

void HttpConnection::onWritable()
{
    writeQueued(false);
    if (bClosing && lstSend.isEmpty())
        close();
    resumeIfDrained();
}

bool HttpConnection::overBounds() const
{
    return llUnsent > kMaxUnsentBytes || vecPending.size() >= kMaxPendingReplies;
}

void HttpConnection::pauseReading()
{
    bPaused = true;
    channel.setReading(false);
}

void HttpConnection::resumeIfDrained()
{
    if (!bPaused || !channel.isOpen() || bClosing || overBounds())
        return;
    bPaused = false;
    // Requests read before the pause come first; they may fill the queue again.
    if (!baRecv.isEmpty())
        processBuffered();
    if (!bPaused && channel.isOpen())
        channel.setReading(true);
}

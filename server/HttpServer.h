#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "server/HttpConnection.h"
#include "server/MultiTcpServer.h"

struct HttpFrameEvent;

// Answers one request body. fnReply is called once, at once or later, on the server's thread.
class IHttpRequestHandler
{
public:
    using ReplyFunction = std::function<void(const QString &strReply)>;
    virtual ~IHttpRequestHandler() = default;
    virtual void handleRequest(const QByteArray &baBody, const ReplyFunction &fnReply) = 0;
};

// The HTTP server: the listener and the connections it owns (framing by CHttpRequestParser,
// replies in request order, backpressure, the idle close). What a request means is the handler's
// business.
class CHttpServer : public QObject
{
    Q_OBJECT
public:
    static const quint16 kDefaultPort = 12380;
    // A connection is not read from while more reply bytes than this wait for its peer: one reply
    // of the largest document (a room area of about a megabyte) may always be on its way.
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    // Nor while this many of its requests wait for their replies (printer queries take seconds).
    static constexpr int kMaxPendingReplies = 64;
    // A cashier PC keeps a few pages open; far more connections are a fault, and each may hold
    // kMaxUnsentBytes, so the count is capped.
    static constexpr int kMaxConnections = 1024;
    static constexpr int kListenRetryMs = 5000;
    // One read takes this much at most: a command is a few hundred bytes, a receipt a few KiB.
    static constexpr int kReadChunkBytes = 64 * 1024;
    static constexpr int kReadsPerTurn = 4;

    CHttpServer(IHttpRequestHandler *pHandler, quint16 nPort = kDefaultPort, QObject *pParent = nullptr);
    ~CHttpServer() override;

    // False when the port cannot be had now; it is then tried again every kListenRetryMs.
    bool start();
    void close();
    int connectionCount() const { return int(mapConnections.size()); }
    // Why the port is not being listened on; empty while it is.
    QString listenError() const { return strListenError; }
    // Silence after which a connection is closed; only in-process tests shorten it.
    void setIdleTimeoutMs(int nMs);
    // Only tests lower the cap.
    void setMaxConnections(int nMax) { nMaxConnections = nMax; }

signals:
    void listenErrorChanged(const QString &strError);

private slots:
    void onNewConnection(int nSocketDescriptor);
    void onIdleScan();
    void onAcceptError(QAbstractSocket::SocketError socketError);

private:
    void onReadyRead(HttpConnection &connection);
    void onWritable(HttpConnection &connection);
    void onSocketError(HttpConnection &connection);
    void closeConnection(HttpConnection &connection);
    void closeAfterFlush(HttpConnection &connection);
    void consume(HttpConnection &connection, const char *pData, int nSize);
    int frameRequests(HttpConnection &connection, const QByteArray &baBuffer);
    void processBuffered(HttpConnection &connection);
    bool handleFrameEvent(HttpConnection &connection, const HttpFrameEvent &event);
    void dispatchRequest(HttpConnection &connection, const QByteArray &baBody);
    void completeReply(int nFd, quint64 ullRequest, const QString &strReply);
    void sendResponse(HttpConnection &connection, const QString &strReply);
    void writeQueued(HttpConnection &connection, bool bNewHead);
    void consumeWritten(HttpConnection &connection, qint64 nWritten);
    bool overBounds(const HttpConnection &connection) const;
    void pauseReading(HttpConnection &connection);
    void resumeIfDrained(HttpConnection &connection);
    void setListenError(const QString &strError);
    HttpConnection *findConnection(int nFd) const;

    IHttpRequestHandler *pHandler = nullptr;
    quint16 nPort = kDefaultPort;
    CMultiTcpServer tcpServer;
    // Keyed by descriptor: a closed connection leaves the map at once, before its number is reused.
    std::unordered_map<int, std::unique_ptr<HttpConnection>> mapConnections;
    // Closed records wait here for the event loop: they may be closed inside their own callbacks.
    std::vector<std::unique_ptr<HttpConnection>> vecClosed;
    QByteArray baReadBuffer;     // one read buffer for all connections; idle ones hold none
    quint64 ullLastRequest = 0;  // requests dispatched so far, on every connection
    int nIdleMs = 30000;         // a cashier page sends its next command well within this
    int nMaxConnections = kMaxConnections;
    QTimer timerIdle;            // one scan for all connections, running while there are any
    QTimer timerListenRetry;
    QString strListenError;
};

#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

#include "server/HttpConnection.h"
#include "server/MultiTcpServer.h"

class QTcpSocket;
class QTimer;
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
// replies in request order, the idle close). What a request means is the handler's business.
class CHttpServer : public QObject
{
    Q_OBJECT
public:
    static const quint16 kDefaultPort = 12380;

    CHttpServer(IHttpRequestHandler *pHandler, quint16 nPort = kDefaultPort, QObject *pParent = nullptr);
    ~CHttpServer() override;

    bool start();
    void close();
    void sendResponse(QTcpSocket *pSocket, const QString &strReply);
    int connectionCount() const { return mapConnections.size(); }
    // Silence after which a connection is closed; only in-process tests shorten it.
    void setIdleTimeoutMs(int nMs) { nIdleMs = nMs; }

private slots:
    void onNewConnection(int nSocketDescriptor);
    void onReadyRead();
    void onDisconnected();
    void onBytesWritten(qint64 nBytesWritten);
    void onSocketError(QAbstractSocket::SocketError socketError);

private:
    QTimer *startIdleTimer(QTcpSocket *pSocket);
    void handleFrameEvent(QTcpSocket *pSocket, const HttpFrameEvent &event);
    void dispatchRequest(QTcpSocket *pSocket, const QByteArray &baBody);
    void completeReply(QTcpSocket *pSocket, quint64 ullRequest, const QString &strReply);
    void logLimitExceeded(quint16 nPort, const HttpFrameEvent &event);

    IHttpRequestHandler *pHandler = nullptr;
    quint16 nPort = kDefaultPort;
    CMultiTcpServer tcpServer;
    QMap<QTcpSocket *, HttpConnection> mapConnections;
    quint64 ullLastRequest = 0;  // requests dispatched so far, on every connection
    int nIdleMs = 30000;         // a cashier page sends its next command well within this
};

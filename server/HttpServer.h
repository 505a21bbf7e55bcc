#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include "server/HttpRequestHandler.h"
#include "server/MultiTcpServer.h"

class HttpConnection;

// The HTTP server: the listener, the connections it owns (HttpConnection), their cap and the one
// idle scan for all of them. What a request means is the handler's business.
class CHttpServer : public QObject
{
    Q_OBJECT
public:
    static const quint16 kDefaultPort = 12380;
    // A cashier PC keeps a few pages open; far more connections are a fault, and each may hold
    // HttpConnection::kMaxUnsentBytes, so the count is capped.
    static constexpr int kMaxConnections = 1024;
    static constexpr int kListenRetryMs = 5000;

    CHttpServer(IHttpRequestHandler *pHandler, quint16 nPort = kDefaultPort, QObject *pParent = nullptr);
    ~CHttpServer() override;

    // False when the port cannot be had now; it is then tried again every kListenRetryMs.
    bool start();
    void close();
    int connectionCount() const { return setConnections.size(); }
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
    void onConnectionClosed(HttpConnection *pConnection);
    void onIdleScan();
    void onAcceptError(QAbstractSocket::SocketError socketError);

private:
    void setListenError(const QString &strError);

    IHttpRequestHandler *pHandler = nullptr;
    quint16 nPort = kDefaultPort;
    CMultiTcpServer tcpServer;
    // The open connections, children of this object; a closed one leaves the set at once and is
    // deleted once the event loop has left its calls.
    QSet<HttpConnection *> setConnections;
    int nIdleMs = 30000;  // a cashier page sends its next command well within this
    int nMaxConnections = kMaxConnections;
    QTimer timerIdle;     // one scan for all connections, running while there are any
    QTimer timerListenRetry;
    QString strListenError;
};

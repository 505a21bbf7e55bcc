#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

#include "server/TcpChannel.h"

class IHttpRequestHandler;
struct HttpFrameEvent;

// One accepted HTTP connection, owned by CHttpServer: its socket, the framing of its byte stream,
// its replies in request order, their write queue and the backpressure that bounds them.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    // Not read from while more reply bytes than this wait for the peer: one reply of the largest
    // document (a room area of about a megabyte) may always be on its way.
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    // Nor while this many of its requests wait for their replies (printer queries take seconds).
    static constexpr int kMaxPendingReplies = 64;
    // One read takes this much at most: a command is a few hundred bytes, a receipt a few KiB.
    static constexpr int kReadChunkBytes = 64 * 1024;
    static constexpr int kReadsPerTurn = 4;

    HttpConnection(qintptr nSocket, IHttpRequestHandler *pHandler, QObject *pParent);

    // Prepares the socket and starts reading; false when the socket cannot be used.
    bool open();
    quint16 peerPort() const { return channel.peerPort(); }
    bool isOpen() const { return channel.isOpen(); }
    // Monotonic time of the last bytes in or out, for the server's idle close.
    qint64 lastActiveMs() const { return llLastActiveMs; }
    // Ends the connection at once, unsent replies included, and says so in the log. Safe inside the
    // connection's own calls: the owner deletes it later.
    void close();

signals:
    void closed(HttpConnection *pConnection);

private:
    // A request's place in the reply order; a reply still being worked out (a printer query) holds
    // back those behind it.
    struct PendingReply
    {
        quint64 ullRequest = 0;
        bool bReady = false;
        QString strReply;
    };

    void onReadable();
    void onWritable();
    void onSocketError();
    void closeAfterFlush();
    void consume(const char *pData, int nSize);
    void processBuffered();
    int frameRequests(const QByteArray &baBuffer);
    bool handleFrameEvent(const HttpFrameEvent &event);
    void dispatchRequest(const QByteArray &baBody);
    void completeReply(quint64 ullRequest, const QString &strReply);
    void sendResponse(const QString &strReply);
    void writeQueued(bool bNewHead);
    void consumeWritten(qint64 nWritten);
    bool overBounds() const;
    void pauseReading();
    void resumeIfDrained();

    CTcpChannel channel;
    IHttpRequestHandler *pHandler = nullptr;
    qint32 nContentLength = 0;         // body length still awaited; 0 = next bytes start a header
    QByteArray baRecv;                 // received and not yet consumed; empty while idle
    QList<QByteArray> lstSend;         // whole replies waiting; the head is being written
    quint32 nSent = 0;                 // bytes of the head the kernel has accepted
    qint64 llUnsent = 0;               // bytes of lstSend not yet accepted
    qint64 llLastActiveMs = 0;
    quint64 ullLastRequest = 0;
    bool bPaused = false;              // reading stopped until the replies have drained
    bool bClosing = false;             // refused: ends once the replies before the refusal are out
    QVector<PendingReply> vecPending;  // dispatched requests whose replies are not queued yet
};

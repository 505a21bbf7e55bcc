#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include "server/TcpChannel.h"

// A request's reply slot: replies leave in request order, so one still being worked out
// (a printer query) holds back those behind it on the same connection.
struct PendingReply
{
    quint64 ullRequest = 0;
    bool bReady = false;
    QString strReply;
};

// Per-connection record of the HTTP server, owned by CHttpServer::mapConnections. An idle
// connection holds this record and its read watch only: both buffers are empty.
struct HttpConnection
{
    explicit HttpConnection(int nFd) : nFd(nFd), channel(nFd) {}

    const int nFd;              // the key in the server's map, kept after the channel has closed
    CTcpChannel channel;
    qint32 nContentLength = 0;  // body length still awaited; 0 = next bytes start a header
    QByteArray baRecv;          // received and not yet consumed
    QList<QByteArray> lstSend;  // whole replies waiting; the head is being written
    quint32 nSent = 0;          // bytes of the head the kernel has accepted
    qint64 llUnsent = 0;        // bytes of lstSend not yet accepted
    qint64 llLastActiveMs = 0;  // monotonic time of the last bytes in or out, for the idle close
    bool bPaused = false;       // reading stopped until the replies have drained
    bool bClosing = false;      // refused: ends once the replies before the refusal have gone out
    bool bClosed = false;       // closed while a call on its behalf was still running
    QVector<PendingReply> vecPending;  // dispatched requests whose replies have not been queued yet
};

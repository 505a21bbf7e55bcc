#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

class QTimer;

// A request's reply slot: replies leave in request order, so one still being worked out
// (a printer query) holds back those behind it on the same connection.
struct PendingReply
{
    quint64 ullRequest = 0;
    bool bReady = false;
    QString strReply;
};

// Per-connection record of the HTTP server, kept by value in CHttpServer::mapConnections.
struct HttpConnection
{
    qint32 nContentLength = 0;  // body length still awaited; 0 = next bytes start a header
    QByteArray baRecv;          // received and not yet consumed
    QList<QByteArray> lstSend;  // whole replies waiting; the head is being written
    quint32 nSent = 0;          // bytes of the head the socket has accepted
    QTimer *pIdleTimer = nullptr;  // closes a connection that stays silent too long
    qint64 llLastDataMs = 0;       // monotonic time of the last read, checked when the timer fires
    QVector<PendingReply> vecPending;  // dispatched requests whose replies have not been queued yet
};

#pragma once

#include <QTcpServer>

// Hands each accepted descriptor straight to CHttpServer, which adopts it
// into a connection of its own (CTcpChannel); the base class's pending-connection queue is never used.
class CMultiTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit CMultiTcpServer(QObject *parent = nullptr);

signals:
    void newConnection(int nSocketDescriptor);

protected:
    void incomingConnection(qintptr nSocketDescriptor) override;
};

#include "server/MultiTcpServer.h"

CMultiTcpServer::CMultiTcpServer(QObject *parent)
    : QTcpServer(parent)
{
}

void CMultiTcpServer::incomingConnection(qintptr nSocketDescriptor)
{
    emit newConnection(static_cast<int>(nSocketDescriptor));
}

// HTTP connection handling of the application object: accept, framing, replies, cleanup.
#include "app/MainApp.h"

#include <QTcpSocket>

// TODO(http): real implementation.
void CMainApp::newConnectSlot(int nSocketDescriptor)
{
    Q_UNUSED(nSocketDescriptor);
}

void CMainApp::onReadyRead() {}
void CMainApp::onDisconnected() {}
void CMainApp::onBytesWritten(qint64 nBytesWritten)
{
    Q_UNUSED(nBytesWritten);
}
void CMainApp::onSocketError(QAbstractSocket::SocketError socketError)
{
    Q_UNUSED(socketError);
}
void CMainApp::sendResponse(QTcpSocket *pSocket, const QString &strReply)
{
    Q_UNUSED(pSocket);
    Q_UNUSED(strReply);
}

// What a connection's socket does through Qt, the same on every system: the watches for input and
// for room to write, and the close. The socket calls themselves are TcpChannel_unix.cpp's and
// TcpChannel_win.cpp's.
#include "server/TcpChannel.h"

#include <QSocketNotifier>

CTcpChannel::CTcpChannel(qintptr nSocket)
    : nSocket(nSocket)
{
}

CTcpChannel::~CTcpChannel()
{
    close();
}

void CTcpChannel::onReadable(QObject *pContext, std::function<void()> fnHandler)
{
    pReadNotifier = std::make_unique<QSocketNotifier>(nSocket, QSocketNotifier::Read);
    QObject::connect(pReadNotifier.get(), &QSocketNotifier::activated, pContext, std::move(fnHandler));
}

void CTcpChannel::setReading(bool bOn)
{
    if (pReadNotifier && nSocket != -1)
        pReadNotifier->setEnabled(bOn);
}

// Winsock reports FD_WRITE once after a send that would have blocked; Qt's dispatcher selects the
// socket again whenever a notifier is enabled, which reports a socket that is writable already.
void CTcpChannel::watchWritable(bool bOn, QObject *pContext, const std::function<void()> &fnHandler)
{
    if (!pWriteNotifier && bOn) {
        pWriteNotifier = std::make_unique<QSocketNotifier>(nSocket, QSocketNotifier::Write);
        QObject::connect(pWriteNotifier.get(), &QSocketNotifier::activated, pContext, fnHandler);
    }
    if (pWriteNotifier && nSocket != -1)
        pWriteNotifier->setEnabled(bOn);
}

void CTcpChannel::close()
{
    if (nSocket == -1)
        return;
    // The watches go quiet before the number can be handed to the next connection.
    if (pReadNotifier)
        pReadNotifier->setEnabled(false);
    if (pWriteNotifier)
        pWriteNotifier->setEnabled(false);
    closeSocket();
    nSocket = -1;
}

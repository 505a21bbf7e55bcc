#include "server/TcpChannel.h"

#include <QAbstractSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

bool CTcpChannel::prepare()
{
    const int nFlags = ::fcntl(int(nSocket), F_GETFL);
    if (nFlags < 0 || ::fcntl(int(nSocket), F_SETFL, nFlags | O_NONBLOCK) < 0)
        return false;
    const int nOn = 1;
    ::setsockopt(int(nSocket), IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof nOn);
    ::setsockopt(int(nSocket), SOL_SOCKET, SO_KEEPALIVE, &nOn, sizeof nOn);
    sockaddr_storage address{};
    socklen_t nLength = sizeof address;
    if (::getpeername(int(nSocket), reinterpret_cast<sockaddr *>(&address), &nLength) < 0)
        return false;
    // sin_port and sin6_port sit at the same offset.
    nPeerPort = ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    return true;
}

qint64 CTcpChannel::result(qint64 nMoved, bool bReading)
{
    if (nMoved > 0)
        return nMoved;
    if (nMoved == 0 && bReading) {
        nError = 0;
        return PeerClosed;
    }
    if (nMoved < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return WouldBlock;
    nError = nMoved < 0 ? errno : 0;
    return nError == ECONNRESET || nError == EPIPE ? PeerClosed : (nMoved == 0 ? WouldBlock : Failed);
}

qint64 CTcpChannel::read(char *pBuffer, qint64 nMax)
{
    return result(::read(int(nSocket), pBuffer, size_t(nMax)), true);
}

qint64 CTcpChannel::write(const char *pData, qint64 nSize)
{
    // MSG_NOSIGNAL: a peer gone mid-write must not kill the process with SIGPIPE.
    return result(::send(int(nSocket), pData, size_t(nSize), MSG_NOSIGNAL), false);
}

qint64 CTcpChannel::writev(const char *const *ppData, const qint64 *pSizes, int nCount)
{
    iovec aPieces[kMaxPieces];
    msghdr message{};
    message.msg_iov = aPieces;
    message.msg_iovlen = size_t(qMin(nCount, kMaxPieces));
    for (size_t i = 0; i < message.msg_iovlen; ++i)
        aPieces[i] = iovec{const_cast<char *>(ppData[i]), size_t(pSizes[i])};
    return result(::sendmsg(int(nSocket), &message, MSG_NOSIGNAL), false);
}

int CTcpChannel::errorCode() const
{
    return nError == 0 || nError == ECONNRESET || nError == EPIPE ? QAbstractSocket::RemoteHostClosedError
                                                                   : QAbstractSocket::NetworkError;
}

QString CTcpChannel::errorString() const
{
    if (errorCode() == QAbstractSocket::RemoteHostClosedError)
        return QStringLiteral("The remote host closed the connection");
    return QString::fromLocal8Bit(std::strerror(nError));
}

void CTcpChannel::closeSocket()
{
    ::close(int(nSocket));
}

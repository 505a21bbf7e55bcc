#include "server/TcpChannel.h"

#include <QAbstractSocket>
#include <QtGlobal>

#include <climits>

#include <winsock2.h>
#include <ws2tcpip.h>

// Winsock is started by QTcpServer, which accepted the socket.
namespace {
SOCKET toSocket(qintptr nSocket)
{
    return static_cast<SOCKET>(nSocket);
}

bool isPeerGone(int nError)
{
    return nError == WSAECONNRESET || nError == WSAECONNABORTED || nError == WSAESHUTDOWN;
}

int chunkSize(qint64 nSize)
{
    return int(qMin<qint64>(nSize, INT_MAX));
}
}

bool CTcpChannel::prepare()
{
    const SOCKET hSocket = toSocket(nSocket);
    u_long ulNonBlocking = 1;
    if (::ioctlsocket(hSocket, FIONBIO, &ulNonBlocking) != 0)
        return false;
    const BOOL bOn = TRUE;
    const char *pOn = reinterpret_cast<const char *>(&bOn);
    ::setsockopt(hSocket, IPPROTO_TCP, TCP_NODELAY, pOn, sizeof bOn);
    ::setsockopt(hSocket, SOL_SOCKET, SO_KEEPALIVE, pOn, sizeof bOn);
    sockaddr_storage address{};
    int nLength = sizeof address;
    if (::getpeername(hSocket, reinterpret_cast<sockaddr *>(&address), &nLength) != 0)
        return false;
    // sin_port and sin6_port sit at the same offset.
    nPeerPort = ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    return true;
}

qint64 CTcpChannel::result(qint64 nMoved, bool bReading)
{
    if (nMoved > 0)
        return nMoved;
    if (nMoved == 0) {
        nError = 0;
        return bReading ? PeerClosed : WouldBlock;
    }
    const int nLastError = ::WSAGetLastError();
    if (nLastError == WSAEWOULDBLOCK || nLastError == WSAEINTR)
        return WouldBlock;
    nError = nLastError;
    return isPeerGone(nError) ? PeerClosed : Failed;
}

qint64 CTcpChannel::read(char *pBuffer, qint64 nMax)
{
    return result(::recv(toSocket(nSocket), pBuffer, chunkSize(nMax), 0), true);
}

qint64 CTcpChannel::write(const char *pData, qint64 nSize)
{
    return result(::send(toSocket(nSocket), pData, chunkSize(nSize), 0), false);
}

qint64 CTcpChannel::writev(const char *const *ppData, const qint64 *pSizes, int nCount)
{
    WSABUF aPieces[kMaxPieces];
    const int nPieces = qMin(nCount, kMaxPieces);
    for (int i = 0; i < nPieces; ++i)
        aPieces[i] = WSABUF{ULONG(chunkSize(pSizes[i])), const_cast<char *>(ppData[i])};
    DWORD dwSent = 0;
    if (::WSASend(toSocket(nSocket), aPieces, DWORD(nPieces), &dwSent, 0, nullptr, nullptr) != 0)
        return result(-1, false);
    return result(qint64(dwSent), false);
}

int CTcpChannel::errorCode() const
{
    return nError == 0 || isPeerGone(nError) ? QAbstractSocket::RemoteHostClosedError
                                             : QAbstractSocket::NetworkError;
}

QString CTcpChannel::errorString() const
{
    if (errorCode() == QAbstractSocket::RemoteHostClosedError)
        return QStringLiteral("The remote host closed the connection");
    return qt_error_string(nError);
}

void CTcpChannel::closeSocket()
{
    ::closesocket(toSocket(nSocket));
}

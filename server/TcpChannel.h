#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

class QObject;
class QSocketNotifier;

// One accepted TCP connection as a bare non-blocking socket: reads and writes go straight to the
// kernel, so a reply leaves in the call that produced it. A write watch exists only while output
// waits. The socket is closed by close() or at destruction. The socket calls are in one file per
// system (TcpChannel_unix.cpp, TcpChannel_win.cpp); the watches are the same everywhere (TcpChannel.cpp).
class CTcpChannel
{
public:
    // What a read or write returned when it moved no bytes.
    enum Status { WouldBlock = 0, PeerClosed = -1, Failed = -2 };

    // nSocket: a descriptor on Unix, a SOCKET on Windows, as QTcpServer hands it over.
    explicit CTcpChannel(qintptr nSocket);
    ~CTcpChannel();
    CTcpChannel(const CTcpChannel &) = delete;
    CTcpChannel &operator=(const CTcpChannel &) = delete;

    // Non-blocking, no delay, keep-alive; false when the descriptor is unusable.
    bool prepare();
    quint16 peerPort() const { return nPeerPort; }
    bool isOpen() const { return nSocket != -1; }

    // Bytes moved (> 0), or a Status.
    qint64 read(char *pBuffer, qint64 nMax);
    qint64 write(const char *pData, qint64 nSize);
    static constexpr int kMaxPieces = 16;
    // Gathers up to nCount pieces (at most kMaxPieces) into one write.
    qint64 writev(const char *const *ppData, const qint64 *pSizes, int nCount);

    // The error of the last Failed or PeerClosed result, as a socket error code and its text.
    int errorCode() const;
    QString errorString() const;

    void onReadable(QObject *pContext, std::function<void()> fnHandler);
    void setReading(bool bOn);
    // Calls fnHandler when the kernel takes more output; only while bOn.
    void watchWritable(bool bOn, QObject *pContext, const std::function<void()> &fnHandler);
    void close();

private:
    qint64 result(qint64 nMoved, bool bReading);
    void closeSocket();

    qintptr nSocket = -1;  // -1 is also Windows' INVALID_SOCKET
    quint16 nPeerPort = 0;
    int nError = 0;  // errno, or the Winsock error code
    std::unique_ptr<QSocketNotifier> pReadNotifier;
    std::unique_ptr<QSocketNotifier> pWriteNotifier;  // created at the first write that had to wait
};

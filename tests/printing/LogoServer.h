#pragma once

#include <QByteArray>
#include <QMap>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

#include <atomic>

// A tiny web server on 127.0.0.1 for logo downloads: plain HTTP, or HTTPS with a self-signed
// certificate. Serves fixed bodies by path (404 otherwise) and counts the requests it got.
class CLogoServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit CLogoServer(QObject *pParent = nullptr);

    // Makes a fresh self-signed certificate with openssl in strDir; false when that failed.
    bool enableTls(const QString &strDir);
    bool listenLocal() { return listen(QHostAddress::LocalHost, 0); }
    QString baseUrl() const;

    void setFile(const QByteArray &baPath, const QByteArray &baBody) { mapFiles.insert(baPath, baBody); }
    // Holds every answer back for this long (lets a test ask again while a download runs).
    void setReplyDelayMs(int nDelayMs) { nReplyDelayMs = nDelayMs; }
    // Leaves out Content-Length: the body ends when the server closes the connection.
    void setAnnounceLength(bool bAnnounce) { bAnnounceLength = bAnnounce; }
    int requestCount() const { return nRequests; }

protected:
    void incomingConnection(qintptr nSocketDescriptor) override;

private:
    void answer(QTcpSocket *pSocket, const QByteArray &baRequest);

    QMap<QByteArray, QByteArray> mapFiles;
    QSslCertificate certificate;
    QSslKey key;
    bool bTls = false;
    int nReplyDelayMs = 0;
    bool bAnnounceLength = true;
    std::atomic<int> nRequests{0};
};

// A small opaque PNG, as a merchant logo.
QByteArray makeLogoPng(int nWidth = 160, int nHeight = 60);

#pragma once

#include <QtNetwork>

// A tiny web server on 127.0.0.1 for logo downloads, plain or HTTPS with a self-signed certificate:
// fixed bodies by path, 404 otherwise.
class CLogoServer : public QTcpServer
{
public:
    bool enableTls(const QString &strDir); // openssl makes the certificate in strDir
    bool listenLocal() { return listen(QHostAddress::LocalHost, 0); }
    QString baseUrl() const { return QStringLiteral("http%1://127.0.0.1:%2").arg(key.isNull() ? "" : "s").arg(serverPort()); }
    void setFile(const QByteArray &baPath, const QByteArray &baBody) { mapFiles.insert(baPath, baBody); }

    int nReplyDelayMs = 0;       // lets a test ask again while a download runs
    bool bAnnounceLength = true; // else the body ends when the server closes the connection
    int nRequests = 0;

    void incomingConnection(qintptr nSocketDescriptor) override;
    QMap<QByteArray, QByteArray> mapFiles;
    QSslCertificate certificate;
    QSslKey key;
};

// A small PNG, as a merchant logo.
QByteArray makeLogoPng();

#pragma once

#include <QtGui>
#include <QtNetwork>

// A web server on 127.0.0.1, plain or HTTPS (self-signed): fixed bodies by path, else 404.
struct CLogoServer : QTcpServer
{
    QMap<QByteArray, QByteArray> mapFiles;
    QSslConfiguration tls;
    int nReplyDelayMs = 0; // lets a test ask again while a download runs
    int nRequests = 0;
    bool bAnnounceLength = true; // else the body ends with the connection

    bool enableTls(const QString &strDir)
    {
        QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                                      "-keyout", strDir + "/key.pem", "-out", strDir + "/cert.pem"});
        QFile fileKey(strDir + "/key.pem");
        tls.setLocalCertificate(QSslCertificate::fromPath(strDir + "/cert.pem").value(0));
        if (fileKey.open(QIODevice::ReadOnly))
            tls.setPrivateKey(QSslKey(&fileKey, QSsl::Rsa));
        return !tls.privateKey().isNull() && !tls.localCertificate().isNull();
    }
    bool listenLocal() { return listen(QHostAddress::LocalHost, 0); }
    QString baseUrl() const
    {
        return QString("http%1://127.0.0.1:%2").arg(tls.privateKey().isNull() ? "" : "s").arg(serverPort());
    }
    void setFile(const QByteArray &baPath, const QByteArray &baBody) { mapFiles.insert(baPath, baBody); }

    void reply(QSslSocket *pSocket, const QByteArray &baPath)
    {
        const QByteArray baBody = mapFiles.value(baPath, "not found");
        QByteArray baHeader = mapFiles.contains(baPath) ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
        if (bAnnounceLength)
            baHeader += "Content-Length: " + QByteArray::number(baBody.size()) + "\r\n";
        pSocket->write(baHeader + "Connection: close\r\n\r\n" + baBody);
        pSocket->disconnectFromHost();
    }
    void incomingConnection(qintptr nSocketDescriptor) override
    {
        auto *pSocket = new QSslSocket(this);
        pSocket->setSocketDescriptor(nSocketDescriptor);
        connect(pSocket, &QSslSocket::disconnected, pSocket, &QObject::deleteLater);
        connect(pSocket, &QSslSocket::readyRead, this, [this, pSocket] {
            if (!pSocket->peek(1 << 16).contains("\r\n\r\n"))
                return;
            const QByteArray baPath = pSocket->readAll().split(' ').value(1);
            ++nRequests;
            QTimer::singleShot(nReplyDelayMs, pSocket, [=] { reply(pSocket, baPath); });
        });
        if (!tls.privateKey().isNull()) {
            pSocket->setSslConfiguration(tls);
            pSocket->startServerEncryption();
        }
    }
};

inline QByteArray makeLogoPng()
{
    QImage image(160, 60, QImage::Format_RGB32);
    image.fill(Qt::black);
    QByteArray baPng;
    QBuffer buffer(&baPng);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return baPng;
}

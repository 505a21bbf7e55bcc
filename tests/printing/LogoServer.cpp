#include "LogoServer.h"

#include <QtGui>

bool CLogoServer::enableTls(const QString &strDir)
{
    const QString strKey = strDir + "/key.pem", strCert = strDir + "/cert.pem";
    QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-days", "1",
                                  "-keyout", strKey, "-out", strCert});
    QFile fileKey(strKey);
    certificate = QSslCertificate::fromPath(strCert).value(0);
    key = fileKey.open(QIODevice::ReadOnly) ? QSslKey(&fileKey, QSsl::Rsa) : QSslKey();
    return !key.isNull() && !certificate.isNull();
}

void CLogoServer::incomingConnection(qintptr nSocketDescriptor)
{
    auto *pSocket = new QSslSocket(this);
    pSocket->setSocketDescriptor(nSocketDescriptor);
    connect(pSocket, &QSslSocket::readyRead, this, [this, pSocket, pRequest = std::make_shared<QByteArray>()] {
        pRequest->append(pSocket->readAll());
        if (!pRequest->contains("\r\n\r\n"))
            return;
        ++nRequests;
        const QByteArray baPath = pRequest->split(' ').value(1);
        QTimer::singleShot(nReplyDelayMs, pSocket, [this, pSocket, baPath] {
            const QByteArray baBody = mapFiles.value(baPath, "not found");
            QByteArray baHead = mapFiles.contains(baPath) ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
            if (bAnnounceLength)
                baHead += "Content-Length: " + QByteArray::number(baBody.size()) + "\r\n";
            pSocket->write(baHead + "Connection: close\r\n\r\n" + baBody);
            pSocket->disconnectFromHost();
        });
    });
    connect(pSocket, &QSslSocket::disconnected, pSocket, &QObject::deleteLater);
    if (!key.isNull()) {
        pSocket->setLocalCertificate(certificate);
        pSocket->setPrivateKey(key);
        pSocket->startServerEncryption();
    }
}

QByteArray makeLogoPng()
{
    QImage image(160, 60, QImage::Format_RGB32);
    image.fill(Qt::black);
    QByteArray baPng;
    QBuffer buffer(&baPng);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return baPng;
}

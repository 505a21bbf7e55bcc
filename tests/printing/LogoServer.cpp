#include "LogoServer.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSslSocket>
#include <QTimer>

CLogoServer::CLogoServer(QObject *pParent)
    : QTcpServer(pParent)
{
}

bool CLogoServer::enableTls(const QString &strDir)
{
    const QString strKey = strDir + QStringLiteral("/key.pem");
    const QString strCert = strDir + QStringLiteral("/cert.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-keyout"), strKey,
                   QStringLiteral("-out"), strCert});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return false;
    QFile fileKey(strKey);
    QFile fileCert(strCert);
    if (!fileKey.open(QIODevice::ReadOnly) || !fileCert.open(QIODevice::ReadOnly))
        return false;
    key = QSslKey(fileKey.readAll(), QSsl::Rsa);
    certificate = QSslCertificate(fileCert.readAll());
    bTls = !key.isNull() && !certificate.isNull();
    return bTls;
}

QString CLogoServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(bTls ? QStringLiteral("https") : QStringLiteral("http")).arg(serverPort());
}

void CLogoServer::incomingConnection(qintptr nSocketDescriptor)
{
    auto *pSocket = new QSslSocket(this);
    pSocket->setSocketDescriptor(nSocketDescriptor);
    auto *pRequest = new QByteArray;
    connect(pSocket, &QSslSocket::readyRead, this, [this, pSocket, pRequest]() {
        pRequest->append(pSocket->readAll());
        if (pRequest->contains("\r\n\r\n")) {
            ++nRequests;
            const QByteArray baRequest = *pRequest;
            pRequest->clear();
            QTimer::singleShot(nReplyDelayMs, pSocket, [this, pSocket, baRequest]() { answer(pSocket, baRequest); });
        }
    });
    connect(pSocket, &QSslSocket::disconnected, pSocket, &QObject::deleteLater);
    connect(pSocket, &QObject::destroyed, this, [pRequest]() { delete pRequest; });
    if (bTls) {
        pSocket->setLocalCertificate(certificate);
        pSocket->setPrivateKey(key);
        pSocket->startServerEncryption();
    }
}

void CLogoServer::answer(QTcpSocket *pSocket, const QByteArray &baRequest)
{
    const QList<QByteArray> lstWords = baRequest.left(baRequest.indexOf("\r\n")).split(' ');
    const QByteArray baPath = lstWords.value(1);
    QByteArray baReply;
    if (mapFiles.contains(baPath)) {
        const QByteArray &baBody = mapFiles[baPath];
        const QByteArray baLength = bAnnounceLength ? "Content-Length: " + QByteArray::number(baBody.size()) + "\r\n"
                                                    : QByteArray();
        baReply = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n" + baLength + "Connection: close\r\n\r\n" + baBody;
    } else {
        baReply = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
    }
    pSocket->write(baReply);
    pSocket->disconnectFromHost();
}

QByteArray makeLogoPng(int nWidth, int nHeight)
{
    QImage image(nWidth, nHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(QRect(4, 4, nWidth - 8, nHeight - 8), Qt::black);
    painter.end();
    QByteArray baPng;
    QBuffer buffer(&baPng);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return baPng;
}

#include "printing/FileLoader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUrl>

#include "log/Log.h"

FileLoader::FileLoader(const QString &strAppDir)
    : QObject(nullptr)
    , pNetManager(new QNetworkAccessManager())
    , strImageDir((strAppDir.isEmpty() ? QCoreApplication::applicationDirPath() : strAppDir) + QStringLiteral("/image"))
{
}

FileLoader::~FileLoader()
{
    delete pNetManager;
}

QString FileLoader::fileNameFor(const QString &strUrl)
{
    return QStringLiteral("%1.png").arg(
        QString::fromLatin1(QCryptographicHash::hash(strUrl.toUtf8(), QCryptographicHash::Md5).toHex()));
}

void FileLoader::ensureImageDir()
{
    QDir dir(strImageDir);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
}

QString FileLoader::loadLogo(const QString &strUrl)
{
    ensureImageDir();
    auto it = mapUrlToFile.find(strUrl);
    if (it == mapUrlToFile.end())
        it = mapUrlToFile.insert(strUrl, fileNameFor(strUrl));
    const QString strFileName = it.value();

    if (QFile::exists(strImageDir + QLatin1Char('/') + strFileName)) {
        mapFileState.insert(strFileName, StatePresent);
        return strFileName;
    }
    qint32 &nState = mapFileState[strFileName];
    if (nState == StateLoading)
        return strFileName;  // the running download will deliver it
    startDownload(strUrl, strFileName);
    return strFileName;
}

void FileLoader::startDownload(const QString &strUrl, const QString &strFileName)
{
    // Merchant servers often have self-signed or expired certificates; a logo is not worth refusing.
    QNetworkRequest request(QUrl(strUrl, QUrl::TolerantMode));
    QSslConfiguration sslConfig = request.sslConfiguration();
    sslConfig.setPeerVerifyMode(QSslSocket::VerifyNone);
    request.setSslConfiguration(sslConfig);

    QNetworkReply *pReply = pNetManager->get(request);
    pReply->ignoreSslErrors();
    mapFileState.insert(strFileName, StateLoading);

    connect(pReply, &QNetworkReply::finished, this, [pReply, this, strFileName, strUrl]() {
        if (pReply->error() != QNetworkReply::NoError) {
            WRITE_LOG(g_printerLog, QStringLiteral("获取商家logo(%1)失败").arg(strUrl));
            mapFileState.insert(strFileName, StateMissing);
        } else {
            const QByteArray baBody = pReply->readAll();
            QFile file(strImageDir + QLatin1Char('/') + strFileName);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                file.write(baBody);
                file.close();
            }
            mapFileState.insert(strFileName, StatePresent);
        }
        pReply->deleteLater();
    }, Qt::DirectConnection);
}

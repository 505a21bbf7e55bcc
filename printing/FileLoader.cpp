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
#include "platform/AtomicFile.h"

FileLoader::FileLoader(const QString &strAppDir)
    : QObject(nullptr)
    , pNetManager(new QNetworkAccessManager(this))
    , strImageDir((strAppDir.isEmpty() ? QCoreApplication::applicationDirPath() : strAppDir) + QStringLiteral("/image"))
{
}

FileLoader::~FileLoader() = default;

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

    // Checked at the header and at every piece of the body, so an oversized one is never held whole.
    const auto checkSize = [this, pReply, strUrl, strFileName]() { dropIfOversized(pReply, strUrl, strFileName); };
    connect(pReply, &QNetworkReply::metaDataChanged, this, checkSize);
    connect(pReply, &QNetworkReply::readyRead, this, checkSize);
    connect(pReply, &QNetworkReply::finished, this,
            [this, pReply, strUrl, strFileName]() { finishDownload(pReply, strUrl, strFileName); }, Qt::DirectConnection);
}

void FileLoader::dropIfOversized(QNetworkReply *pReply, const QString &strUrl, const QString &strFileName)
{
    const qint64 llAnnounced = pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (qMax(llAnnounced, pReply->bytesAvailable()) <= kMaxLogoBytes)
        return;
    WRITE_LOG(g_printerLog, QStringLiteral("商家logo(%1)超过%2MiB，已丢弃").arg(strUrl).arg(kMaxLogoBytes / (1024 * 1024)));
    pReply->disconnect(this);  // abort() emits finished() at once: not to be logged as a failed download
    pReply->abort();
    pReply->deleteLater();
    mapFileState.insert(strFileName, StateMissing);
}

void FileLoader::finishDownload(QNetworkReply *pReply, const QString &strUrl, const QString &strFileName)
{
    pReply->deleteLater();
    if (pReply->error() != QNetworkReply::NoError) {
        WRITE_LOG(g_printerLog, QStringLiteral("获取商家logo(%1)失败").arg(strUrl));
        mapFileState.insert(strFileName, StateMissing);
        return;
    }
    mapFileState.insert(strFileName, saveLogo(strFileName, pReply->readAll()) ? StatePresent : StateMissing);
}

bool FileLoader::saveLogo(const QString &strFileName, const QByteArray &baBody)
{
    // Replaced whole: the print thread takes "the file exists" for "the logo is whole".
    const QString strPath = strImageDir + QLatin1Char('/') + strFileName;
    if (Platform::writeFileAtomically(strPath, baBody))
        return true;
    WRITE_LOG(g_printerLog, QStringLiteral("商家logo文件写失败,%1").arg(strPath));
    return false;
}

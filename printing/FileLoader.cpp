#include "printing/FileLoader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QNetworkAccessManager>

FileLoader::FileLoader(const QString &strAppDir)
    : QObject(nullptr)
    , strImageDir((strAppDir.isEmpty() ? QCoreApplication::applicationDirPath() : strAppDir) + QStringLiteral("/image"))
    , pNetManager(new QNetworkAccessManager())
{
}

FileLoader::~FileLoader()
{
    delete pNetManager;
}

void FileLoader::ensureImageDir() {}

QString FileLoader::loadLogo(const QString &strUrl)
{
    return QStringLiteral("%1.png").arg(
        QString::fromLatin1(QCryptographicHash::hash(strUrl.toUtf8(), QCryptographicHash::Md5).toHex()));
}

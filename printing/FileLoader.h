#pragma once

#include <QMap>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

// TODO(printing): downloads of merchant logos into "<app dir>/image".
class FileLoader : public QObject
{
    Q_OBJECT
public:
    explicit FileLoader(const QString &strAppDir = QString());
    ~FileLoader() override;

    QString loadLogo(const QString &strUrl);
    void ensureImageDir();

    QString strImageDir;

private:
    QNetworkAccessManager *pNetManager = nullptr;
    QMap<QString, QString> mapUrlToFile;
    QMap<QString, qint32> mapFileState;
};

#pragma once

#include <QMap>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// The logo cache: maps merchant logo addresses to files in "<app dir>/image" and downloads them in the
// background, so printing never touches the network. Files stay across restarts.
class FileLoader : public QObject
{
    Q_OBJECT
public:
    enum FileState { StateMissing = 0, StateLoading = 1, StatePresent = 2 };
    // A download is held in memory until it is written; no merchant logo comes near this.
    static constexpr qint64 kMaxLogoBytes = 8 * 1024 * 1024;

    explicit FileLoader(const QString &strAppDir = QString());
    ~FileLoader() override;

    // The logo's file name in strImageDir; starts a download when the file is not there yet.
    QString loadLogo(const QString &strUrl);
    void ensureImageDir();

    // "<md5 of the address>.png"
    static QString fileNameFor(const QString &strUrl);
    qint32 fileState(const QString &strFileName) const { return mapFileState.value(strFileName, StateMissing); }

    QNetworkAccessManager *pNetManager = nullptr;
    QString strImageDir;

private:
    void startDownload(const QString &strUrl, const QString &strFileName);
    void dropIfOversized(QNetworkReply *pReply, const QString &strUrl, const QString &strFileName);
    void finishDownload(QNetworkReply *pReply, const QString &strUrl, const QString &strFileName);
    bool saveLogo(const QString &strFileName, const QByteArray &baBody);

    QMap<QString, QString> mapUrlToFile;
    QMap<QString, qint32> mapFileState;
};

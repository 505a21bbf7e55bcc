#pragma once

#include <QMap>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

// Maps merchant logo addresses to files in "<app dir>/image" and downloads them in the
// background, so printing never touches the network. Files stay across restarts.
class FileLoader : public QObject
{
    Q_OBJECT
public:
    enum FileState { StateMissing = 0, StateLoading = 1, StatePresent = 2 };

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

    QMap<QString, QString> mapUrlToFile;
    QMap<QString, qint32> mapFileState;
};

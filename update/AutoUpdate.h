#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class CMainApp;
class QUdpSocket;

// The link to the separate updater program: answers its close requests on the loopback interface,
// starts it, watches it and installs a new updater executable once the old one has exited.
class CAutoUpdate : public QObject
{
    Q_OBJECT
public:
    static const quint16 kListenPort = 19682;
    static const quint16 kAnswerPort = 19681;
    static const int kWatchIntervalMs = 5000;
    static const int kMaxAnswerBytes = 158;

    // strAppDir empty: the application object's directory (or the executable's without one).
    explicit CAutoUpdate(CMainApp *pMainApp, quint16 nListenPort = kListenPort,
                         const QString &strAppDir = QString(), int nWatchIntervalMs = kWatchIntervalMs);
    ~CAutoUpdate() override;

    void startUpdater();
    void onUpdaterTimer();
    void sendAnswer(const QString &strQuery);

    bool isProcessRunning(const QString &strImageName) const;
    static void replaceFile(const QString &strSource, const QString &strDestination);
    // The answer datagram for a query, cut to kMaxAnswerBytes.
    static QByteArray buildAnswer(const QString &strQuery, const QString &strCheck);

    QString check() const { return strCheck; }
    QString updaterExe() const { return strUpdaterExe; }
    bool isWatching() const { return timerWatch.isActive(); }

private slots:
    void onReadyRead();

private:
    void handleDatagram(const QByteArray &baDatagram);
    QString applicationDir() const;

    CMainApp *pMainApp = nullptr;
    QUdpSocket *pUdpSocket = nullptr;
    QString strCheck;
    QString strPendingExe;
    QString strPendingExeNew;
    QString strUpdaterExe;
    QTimer timerWatch;
    QString strAppDir;
};

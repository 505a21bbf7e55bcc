#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>


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

    explicit CAutoUpdate(const QString &strAppDir, quint16 nListenPort = kListenPort,
                         quint16 nAnswerPort = kAnswerPort, int nWatchIntervalMs = kWatchIntervalMs);

    // Binds the link's port and starts the updater.
    void start();

    void startUpdater();
    void onUpdaterTimer();
    void sendAnswer(const QString &strQuery);

    bool isProcessRunning(const QString &strImageName) const;
    static void replaceFile(const QString &strSource, const QString &strDestination);
    // The answer datagram for a query, cut to kMaxAnswerBytes.
    static QByteArray buildAnswer(const QString &strQuery, const QString &strCheck);
    // What a second start with "quit" sends to kListenPort (twice): a close request without "time".
    static QByteArray buildCloseRequest();

    QString check() const { return strCheck; }
    QString updaterExe() const { return strUpdaterExe; }
    bool isWatching() const { return timerWatch.isActive(); }

signals:
    // The updater (or a second start with "quit") asked the application to end; the answers are out.
    void quitRequested();

private slots:
    void onReadyRead();

private:
    void handleDatagram(const QByteArray &baDatagram);

    QString strAppDir;
    quint16 nListenPort = kListenPort;
    quint16 nAnswerPort = kAnswerPort;
    QUdpSocket udpSocket;
    QString strCheck;
    QString strPendingExe;
    QString strPendingExeNew;
    QString strUpdaterExe;
    QTimer timerWatch;
};

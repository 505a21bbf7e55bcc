#pragma once

#include <QAbstractSocket>
#include <QApplication>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

#include "server/HttpConnection.h"

class QTcpSocket;
class QTimer;
struct HttpFrameEvent;
class CInformationServices;
class CMultiTcpServer;
class CPrinterQueue;
class PrinterJson;
class CAutoUpdate;
class CPrinterLister;
class FileLoader;

// The process's application object: owns every service, carries the HTTP connection handlers
// (server/HttpHandlers.cpp) and the command dispatcher (commands/CommandDispatcher.cpp), and
// publishes a few properties to the window as "mainwindow".
// It is a QApplication (not only a QGuiApplication) because the tray icon's fallback needs widgets.
class CMainApp : public QApplication
{
    Q_OBJECT
    Q_PROPERTY(int getPrintQuantity READ getPrintQuantity WRITE setPrintQuantity NOTIFY printQuantityChanged)
    Q_PROPERTY(bool isPowerBoot READ isPowerBoot NOTIFY isPowerBootChanged)

public:
    // strAppDir: where every file of the service lives; empty means the executable's directory.
    CMainApp(int &argc, char **argv, const QString &strAppDir = QString());
    ~CMainApp() override;

    Q_INVOKABLE QString getAddressIP();
    Q_INVOKABLE QString getBroadcast();
    Q_INVOKABLE bool isOpenAutoStart();
    Q_INVOKABLE void setAutoStart(bool enable);
    Q_INVOKABLE bool bAutoStart();
    Q_INVOKABLE bool setPowerBoot(bool bOpen);

    int getPrintQuantity() const;
    // Same rule for the window and the print queue's worker: only a change is stored and signalled.
    void setPrintQuantity(int nQuantity);
    bool isPowerBoot() const;

    QString appDir() const;
    QString localIp() const;
    QString broadcastIp() const;

    // Receives a command's reply text; called once, at once or later (printer queries), on the main thread.
    using ReplyFunction = std::function<void(const QString &strReply)>;
    void dispatchCommand(const QByteArray &baBody, const ReplyFunction &fnReply);
    // The same for callers without a connection (tests, fuzzing): a later reply is waited for in a local
    // event loop. The HTTP path never uses it.
    QString dispatchCommand(const QByteArray &baBody);
    void sendResponse(QTcpSocket *pSocket, const QString &strReply);
    void loadPrinterConfig();
    void applyPrinterEntries(const QJsonArray &arrEntries);
    bool updateUpdaterConfig(const QJsonObject &objRequest);

    QJsonObject readJsonFile(const QString &strFileName, bool bReportBroken = false);
    bool writeJsonFile(const QJsonObject &obj, const QString &strFileName);

    CPrinterQueue *printerQueue() const { return pPrinterQueue; }
    CInformationServices *informationServices() const { return pInformationServices; }
    CAutoUpdate *autoUpdate() const { return pAutoUpdate; }
    FileLoader *fileLoader() const { return pFileLoader; }
    int connectionCount() const { return mapConnections.size(); }
    // Silence after which an HTTP connection is closed; only in-process tests shorten it.
    void setHttpIdleTimeoutMs(int nMs);

signals:
    void printQuantityChanged();
    void isPowerBootChanged();

private slots:
    void newConnectSlot(int nSocketDescriptor);
    void onReadyRead();
    void onDisconnected();
    void onBytesWritten(qint64 nBytesWritten);
    void onSocketError(QAbstractSocket::SocketError socketError);

private:
    void scanInterfaces();

    // HTTP plumbing around the pure request parser (server/HttpHandlers.cpp).
    QTimer *startIdleTimer(QTcpSocket *pSocket);
    void handleFrameEvent(QTcpSocket *pSocket, const HttpFrameEvent &event);
    void dispatchRequest(QTcpSocket *pSocket, const QByteArray &baBody);
    void completeReply(QTcpSocket *pSocket, quint64 ullRequest, const QString &strReply);
    void logLimitExceeded(quint16 nPort, const HttpFrameEvent &event);

    // One function per command row of the dispatcher.
    void cmdPrint(const QJsonObject &objRequest, const ReplyFunction &fnReply);
    QString cmdSettings(const QJsonObject &objRequest);
    QString cmdInfoData();
    void cmdPrinterStatus(const ReplyFunction &fnReply);
    QString cmdFireAlarm(const QJsonObject &objRequest);
    QString cmdCloseRoom(const QJsonObject &objRequest);
    QString cmdSetRoomArea(const QJsonObject &objRequest);
    QString cmdGetRoomArea();
    QString cmdSendMessage(const QJsonObject &objRequest);
    QString cmdUpdateConfig(const QJsonObject &objRequest);
    QString cmdDrinkMsg(const QJsonObject &objRequest);

    CInformationServices *pInformationServices = nullptr;
    CMultiTcpServer *pTcpServer = nullptr;
    CPrinterQueue *pPrinterQueue = nullptr;
    std::unique_ptr<CPrinterLister> pPrinterLister;
    PrinterJson *pPrinterJson = nullptr;
    CAutoUpdate *pAutoUpdate = nullptr;
    QString strLocalIp;
    QString strBroadcastIp;
    std::atomic<qint32> nPrintQuantity{0};
    bool bPowerBoot = true;
    QMap<QTcpSocket *, HttpConnection> mapConnections;
    quint64 ullLastRequest = 0;  // HTTP requests dispatched so far, on every connection
    FileLoader *pFileLoader = nullptr;
    QString strAppDir;
    int nHttpIdleMs = 30000;  // a cashier page sends its next command well within this
};

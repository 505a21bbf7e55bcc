#pragma once

#include <QApplication>
#include <QString>

#include <atomic>
#include <memory>

class CAutoUpdate;
class CCommandDispatcher;
class CHttpServer;
class CInformationServices;
class CPrinterLister;
class CPrinterQueue;
class FileLoader;
class PrinterJson;
class IHttpRequestHandler;

// The process's application object: makes the services, joins them and starts them in order, and
// publishes a few properties to the window as "mainwindow".
// It is a QApplication (not only a QGuiApplication) because the tray icon's fallback needs widgets.
class CMainApp : public QApplication
{
    Q_OBJECT
    Q_PROPERTY(int getPrintQuantity READ getPrintQuantity WRITE setPrintQuantity NOTIFY printQuantityChanged)
    Q_PROPERTY(bool isPowerBoot READ isPowerBoot NOTIFY isPowerBootChanged)
    // Why the cashier page cannot reach the service; empty while the HTTP port is listened on.
    Q_PROPERTY(QString portProblem READ portProblem NOTIFY portProblemChanged)

public:
    // strAppDir: where every file of the service lives; empty means the executable's directory.
    CMainApp(int &argc, char **argv, const QString &strAppDir = QString());
    ~CMainApp() override;

    // Threads, sockets, the updater: everything that reaches outside the object.
    void start();

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
    QString portProblem() const;

    QString appDir() const { return strAppDir; }
    CPrinterQueue *printerQueue() const { return pPrinterQueue.get(); }
    CAutoUpdate *autoUpdate() const { return pAutoUpdate.get(); }
    CCommandDispatcher *dispatcher() const { return pDispatcher.get(); }
    CHttpServer *httpServer() const { return pHttpServer.get(); }
    PrinterJson *store() const { return pStore.get(); }

signals:
    void printQuantityChanged();
    void isPowerBootChanged();
    void portProblemChanged();

private:
    void scanInterfaces();

    QString strAppDir;
    QString strLocalIp;
    QString strBroadcastIp;
    std::atomic<qint32> nPrintQuantity{0};
    bool bPowerBoot = true;

    // Made in this order and destroyed in the reverse: the server goes first, so no request reaches
    // a service being torn down; the lister drops replies still waiting before the rest goes.
    std::unique_ptr<PrinterJson> pStore;
    std::unique_ptr<CAutoUpdate> pAutoUpdate;
    std::unique_ptr<CInformationServices> pRooms;
    std::unique_ptr<CPrinterQueue> pPrinterQueue;
    std::unique_ptr<FileLoader> pLogos;
    std::unique_ptr<CPrinterLister> pPrinterLister;
    std::unique_ptr<CCommandDispatcher> pDispatcher;
    std::unique_ptr<IHttpRequestHandler> pRequestHandler;
    std::unique_ptr<CHttpServer> pHttpServer;
};

#include "app/MainApp.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include "commands/PrinterJson.h"
#include "commands/PrinterList.h"
#include "log/Log.h"
#include "platform/Fonts.h"
#include "printing/FileLoader.h"
#include "printing/PrinterQueue.h"
#include "rooms/InformationServices.h"
#include "server/MultiTcpServer.h"
#include "update/AutoUpdate.h"

namespace {
const quint16 kHttpPort = 12380;
}

CMainApp::CMainApp(int &argc, char **argv, const QString &strAppDir)
    : QApplication(argc, argv)
    , strAppDir(strAppDir.isEmpty() ? QCoreApplication::applicationDirPath() : strAppDir)
{
    Platform::registerFontSubstitutions();

    pPrinterQueue = new CPrinterQueue();
    // Direct: the worker's count is stored at once; the window's notify crosses threads queued.
    connect(pPrinterQueue, &CPrinterQueue::quantityChanged, this, &CMainApp::setPrintQuantity, Qt::DirectConnection);
    pPrinterQueue->start(QThread::IdlePriority);
    pPrinterLister = std::make_unique<CPrinterLister>();

    pTcpServer = new CMultiTcpServer(this);
    pTcpServer->listen(QHostAddress::Any, kHttpPort);
    connect(pTcpServer, QOverload<int>::of(&CMultiTcpServer::newConnection), this, &CMainApp::newConnectSlot);

    pPrinterJson = new PrinterJson(this->strAppDir);
    pAutoUpdate = new CAutoUpdate(this);
    pInformationServices = new CInformationServices();
    pFileLoader = new FileLoader(this->strAppDir);

    scanInterfaces();
    loadPrinterConfig();
}

CMainApp::~CMainApp()
{
    pTcpServer->close();
    // First: replies still waiting for a printer query are dropped, before the services they touch go.
    pPrinterLister.reset();
    delete pFileLoader;
    pFileLoader = nullptr;
    delete pTcpServer;
    pTcpServer = nullptr;
    delete pPrinterQueue;
    pPrinterQueue = nullptr;
    delete pInformationServices;
    pInformationServices = nullptr;
    delete pAutoUpdate;
    pAutoUpdate = nullptr;
    delete pPrinterJson;
    pPrinterJson = nullptr;
}

void CMainApp::scanInterfaces()
{
    const QList<QNetworkInterface> lstInterfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : lstInterfaces) {
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            const QHostAddress broadcast = entry.broadcast();
            if (!ip.isNull() && !ip.isLoopback() && !broadcast.isNull()
                && ip.protocol() == QAbstractSocket::IPv4Protocol) {
                strLocalIp = ip.toString();
                strBroadcastIp = broadcast.toString();
            }
            WRITE_LOG(g_printerLog, QStringLiteral("本机IP:%1").arg(ip.toString()));
        }
    }
}

QString CMainApp::getAddressIP()
{
    return strLocalIp;
}

QString CMainApp::getBroadcast()
{
    return strBroadcastIp;
}

bool CMainApp::isOpenAutoStart()
{
    return false;
}

int CMainApp::getPrintQuantity() const
{
    return nPrintQuantity;
}

void CMainApp::setPrintQuantity(int nQuantity)
{
    if (nPrintQuantity.exchange(nQuantity) != nQuantity)
        emit printQuantityChanged();
}

bool CMainApp::isPowerBoot() const
{
    return bPowerBoot;
}

QString CMainApp::appDir() const
{
    return strAppDir;
}

QString CMainApp::localIp() const
{
    return strLocalIp;
}

QString CMainApp::broadcastIp() const
{
    return strBroadcastIp;
}

QJsonObject CMainApp::readJsonFile(const QString &strFileName, bool bReportBroken)
{
    return pPrinterJson->readJsonFile(strFileName, bReportBroken);
}

bool CMainApp::writeJsonFile(const QJsonObject &obj, const QString &strFileName)
{
    return pPrinterJson->writeJsonFile(obj, strFileName);
}

#include "app/MainApp.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include "commands/CommandDispatcher.h"
#include "commands/PrinterJson.h"
#include "commands/PrinterList.h"
#include "log/Log.h"
#include "platform/Fonts.h"
#include "printing/FileLoader.h"
#include "printing/PrinterQueue.h"
#include "rooms/InformationServices.h"
#include "server/HttpServer.h"
#include "update/AutoUpdate.h"

namespace {
// Each HTTP request body is one command.
class CDispatchHandler : public IHttpRequestHandler
{
public:
    explicit CDispatchHandler(CCommandDispatcher *pDispatcher)
        : pDispatcher(pDispatcher)
    {
    }
    void handleRequest(const QByteArray &baBody, const ReplyFunction &fnReply) override
    {
        pDispatcher->dispatch(baBody, fnReply);
    }

private:
    CCommandDispatcher *pDispatcher;
};
}

CMainApp::CMainApp(int &argc, char **argv, const QString &strAppDir)
    : QApplication(argc, argv)
    , strAppDir(strAppDir.isEmpty() ? QCoreApplication::applicationDirPath() : strAppDir)
{
    Platform::registerFontSubstitutions();

    pStore = std::make_unique<PrinterJson>(this->strAppDir);
    PrinterJson *pJson = pStore.get();
    pAutoUpdate = std::make_unique<CAutoUpdate>(this->strAppDir);
    // Queued: the answers leave first, and the quit comes from the event loop like the tray's.
    connect(pAutoUpdate.get(), &CAutoUpdate::quitRequested, this, &QCoreApplication::quit, Qt::QueuedConnection);

    RoomServiceOptions roomOptions;
    roomOptions.fnLocalIp = [this] { return strLocalIp; };
    roomOptions.fnBroadcastIp = [this] { return strBroadcastIp; };
    // Read once, at start: a broken schedule file is reported, not silently taken as empty.
    roomOptions.fnReadJson = [pJson](const QString &strName) { return pJson->readJsonFile(strName, true); };
    roomOptions.fnWriteJson = [pJson](const QJsonObject &obj, const QString &strName) {
        return pJson->writeJsonFile(obj, strName);
    };
    pRooms = std::make_unique<CInformationServices>(nullptr, roomOptions);

    pPrinterQueue = std::make_unique<CPrinterQueue>();
    // Direct: the worker's count is stored at once; the window's notify crosses threads queued.
    connect(pPrinterQueue.get(), &CPrinterQueue::quantityChanged, this, &CMainApp::setPrintQuantity,
            Qt::DirectConnection);
    pLogos = std::make_unique<FileLoader>(this->strAppDir);
    pPrinterLister = std::make_unique<CPrinterLister>();

    CommandServices services;
    services.pPrinterQueue = pPrinterQueue.get();
    services.pPrinterLister = pPrinterLister.get();
    services.pStore = pJson;
    services.pRooms = pRooms.get();
    services.pUpdater = pAutoUpdate.get();
    services.pLogos = pLogos.get();
    pDispatcher = std::make_unique<CCommandDispatcher>(services);
    pRequestHandler = std::make_unique<CDispatchHandler>(pDispatcher.get());
    pHttpServer = std::make_unique<CHttpServer>(pRequestHandler.get());
    connect(pHttpServer.get(), &CHttpServer::listenErrorChanged, this, &CMainApp::portProblemChanged);
}

CMainApp::~CMainApp() = default;

void CMainApp::start()
{
    pPrinterQueue->start(QThread::IdlePriority);
    pPrinterLister->start();
    pHttpServer->start();
    pAutoUpdate->start();
    pRooms->start();
    scanInterfaces();
    pDispatcher->loadPrinterConfig();
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

QString CMainApp::portProblem() const
{
    const QString strError = pHttpServer->listenError();
    if (strError.isEmpty())
        return QString();
    return QStringLiteral("端口%1无法监听(%2)，收银台连不上打印控件，每%3秒重试")
        .arg(CHttpServer::kDefaultPort)
        .arg(strError)
        .arg(CHttpServer::kListenRetryMs / 1000);
}

bool CMainApp::isPowerBoot() const
{
    return bPowerBoot;
}

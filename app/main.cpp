#include <QByteArray>
#include <QHostAddress>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSharedMemory>
#include <QSslSocket>
#include <QSystemSemaphore>
#include <QUdpSocket>
#include <QUrl>

#include "app/MainApp.h"
#include "app/WindowContext.h"
#include "log/Log.h"
#include "platform/EventLoop.h"
#include "platform/FileLimit.h"
#include "platform/SingleInstance.h"
#include "server/HttpServer.h"
#include "update/AutoUpdate.h"

namespace {
// A second start with "quit" only asks the running instance, through its updater link, to close.
int sendQuitRequest()
{
    const QByteArray baRequest = CAutoUpdate::buildCloseRequest();
    QUdpSocket udpSocket;
    udpSocket.writeDatagram(baRequest, QHostAddress::LocalHost, CAutoUpdate::kListenPort);
    udpSocket.writeDatagram(baRequest, QHostAddress::LocalHost, CAutoUpdate::kListenPort);
    return 0;
}

bool isQuitRequest(int argc, char *argv[])
{
    return argc >= 2 && QByteArray(argv[1]).contains("quit");
}
}

int main(int argc, char *argv[])
{
    if (isQuitRequest(argc, argv))
        return sendQuitRequest();

    Platform::selectEventDispatcher();
    Platform::raiseOpenFileLimit(4 * CHttpServer::kMaxConnections);
    CMainApp app(argc, argv);
    app.start();
    CBackupFiles::initLogDir(QCoreApplication::applicationDirPath());
    g_printerLog.startWriting(QStringLiteral("PrinterLog"));
    g_vodLog.startWriting(QStringLiteral("VodLog"));
    WRITE_LOG(g_printerLog, QStringLiteral("SSL支持状态:%1").arg(QSslSocket::supportsSsl() ? 1 : 0));

    QSystemSemaphore semaphore(QStringLiteral("VexaPrinter"), 1, QSystemSemaphore::Open);
    semaphore.acquire();
    QSharedMemory marker(QStringLiteral("VexaPrinterObject"));
    Platform::releaseStaleInstanceMarker(marker);
    if (!marker.create(1, QSharedMemory::ReadWrite)) {
        semaphore.release();
        return 0;
    }
    semaphore.release();

    // The window is small and static: the software scene graph draws it without needing OpenGL,
    // which a cashier PC's driver (or a headless session) may not offer.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    QQmlApplicationEngine engine;
    exposeToWindow(engine.rootContext(), &app);
    engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml"), QUrl::TolerantMode));
    QObject::disconnect(&engine, &QQmlEngine::quit, nullptr, nullptr);
    QObject::connect(&engine, &QQmlEngine::quit, &app, [] { QCoreApplication::quit(); }, Qt::DirectConnection);
    if (engine.rootObjects().isEmpty())
        return -1;
    return app.exec();
}

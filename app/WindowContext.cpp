#include "app/WindowContext.h"

#include <QQmlContext>

#include "app/MainApp.h"
#include "server/HttpServer.h"

void exposeToWindow(QQmlContext *pContext, CMainApp *pApp)
{
    pContext->setContextProperty(QStringLiteral("mainwindow"), pApp);
    pContext->setContextProperty(QStringLiteral("appVersion"), QStringLiteral(VEXA_VERSION));
    pContext->setContextProperty(QStringLiteral("httpPort"), CHttpServer::kDefaultPort);
}

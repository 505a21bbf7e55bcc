#include "update/AutoUpdate.h"

#include "app/MainApp.h"

CAutoUpdate::CAutoUpdate(CMainApp *pMainApp)
    : QObject(nullptr)
    , pMainApp(pMainApp)
{
}

CAutoUpdate::~CAutoUpdate() = default;

void CAutoUpdate::startUpdater() {}

void CAutoUpdate::onReadyRead() {}

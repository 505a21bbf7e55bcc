// The application object's side of the updater's settings file "./Updater/Update.conf".
#include "app/MainApp.h"

bool CMainApp::updateUpdaterConfig(const QJsonObject &objRequest)
{
    Q_UNUSED(objRequest);
    return false;
}

// Start-with-the-desktop switch of the application object.
#include "app/MainApp.h"

bool CMainApp::setPowerBoot(bool bOpen)
{
    // TODO(updater/autostart): create or delete the autostart entry.
    if (bOpen != bPowerBoot) {
        bPowerBoot = bOpen;
        emit isPowerBootChanged();
    }
    return true;
}

void CMainApp::setAutoStart(bool enable)
{
    Q_UNUSED(enable);
}

bool CMainApp::bAutoStart()
{
    return false;
}

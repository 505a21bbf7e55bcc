#pragma once

#include <QObject>

class CMainApp;

// TODO(updater): loopback UDP link, watch and install of the updater.
class CAutoUpdate : public QObject
{
    Q_OBJECT
public:
    explicit CAutoUpdate(CMainApp *pMainApp);
    ~CAutoUpdate() override;

    void startUpdater();

private slots:
    void onReadyRead();

private:
    CMainApp *pMainApp = nullptr;
};

// Datagrams of the updater link, each sent to a CAutoUpdate on a spare loopback port and handled at
// once. A valid "IsUpdated"/"CloseApp" calls quit(), a no-op without an event loop; answers stay in the namespace.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QUdpSocket>

#include "update/AutoUpdate.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char *pArgv[] = {const_cast<char *>("fuzz_updater_datagram"), nullptr};
    static QCoreApplication *pApp = new QCoreApplication(nArgc, pArgv);
    static QTemporaryDir *pDir = new QTemporaryDir;
    static CAutoUpdate *pLink = [] { auto *pNew = new CAutoUpdate(pDir->path(), 29682); pNew->start(); return pNew; }();
    static QUdpSocket *pSender = new QUdpSocket(pApp);
    pSender->writeDatagram(pData, qint64(unSize), QHostAddress::LocalHost, 29682);
    QMetaObject::invokeMethod(pLink, "onReadyRead", Qt::DirectConnection);
    return 0;
}

// Datagrams of the updater link: each input is sent to a CAutoUpdate bound on a spare loopback port
// and handled at once. A valid "IsUpdated"/"CloseApp" request calls QCoreApplication::quit(), which
// does nothing here because no event loop runs; its answers go to 127.0.0.1:19681 of the namespace.
#include <QCoreApplication>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QUdpSocket>

#include "update/AutoUpdate.h"

namespace {
const quint16 kFuzzPort = 29682;
}

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_updater_datagram";
    static char *pArgv[] = {szName, nullptr};
    static QCoreApplication *pApp = new QCoreApplication(nArgc, pArgv);
    static QTemporaryDir *pDir = new QTemporaryDir;
    static CAutoUpdate *pLink = new CAutoUpdate(pDir->path(), kFuzzPort);
    static bool bStarted = (pLink->start(), true);
    Q_UNUSED(bStarted);
    static QUdpSocket *pSender = new QUdpSocket(pApp);
    pSender->writeDatagram(pData, qint64(unSize), QHostAddress::LocalHost, kFuzzPort);
    QMetaObject::invokeMethod(pLink, "onReadyRead", Qt::DirectConnection);
    return 0;
}

// Datagrams of the updater link on a spare loopback port, handled at once. A close request calls
// quit(), which does nothing without an event loop; answers stay in the private namespace.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QUdpSocket>

#include "update/AutoUpdate.h"

static CAutoUpdate *startLink()
{
    static QTemporaryDir dir;
    auto *pLink = new CAutoUpdate(dir.path(), 29682);
    pLink->start();
    return pLink;
}

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_updater_datagram";
    static char *pArgv[] = {szName, nullptr};
    static QCoreApplication app(nArgc, pArgv);
    static CAutoUpdate *pLink = startLink();
    static QUdpSocket sender;
    sender.writeDatagram(pData, qint64(unSize), QHostAddress::LocalHost, 29682);
    QMetaObject::invokeMethod(pLink, "onReadyRead", Qt::DirectConnection);
    return 0;
}

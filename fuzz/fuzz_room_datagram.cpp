// Datagrams at the room services' port, sent over loopback and handled at once; fixed clocks, no files.
#include <QCoreApplication>
#include <QUdpSocket>

#include "rooms/InformationServices.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char *pArgv[] = {const_cast<char *>("fuzz_room_datagram"), nullptr};
    static QCoreApplication *pApp = new QCoreApplication(nArgc, pArgv);
    static CInformationServices *pRooms = [] {
        RoomServiceOptions options;
        options.unListenPort = 29262;
        options.fnTickMs = [] { return 1000u; };
        options.fnWallSeconds = [] { return 1796000000u; };
        options.fnWriteJson = [](const QJsonObject &, const QString &) { return true; };
        options.fnSend = [](const QByteArray &, const QString &, quint16) {}; // answers go nowhere
        auto *pServices = new CInformationServices(pApp, options);
        pServices->start();
        return pServices;
    }();
    static QUdpSocket *pSender = new QUdpSocket(pApp);
    pSender->writeDatagram(pData, qint64(unSize), QHostAddress::LocalHost, 29262);
    pRooms->onReadyRead();
    return 0;
}

// Datagrams at the room services' port over loopback, handled at once; fixed clocks, nothing sent.
#include <QCoreApplication>
#include <QUdpSocket>

#include "rooms/InformationServices.h"

static CInformationServices *makeRooms()
{
    RoomServiceOptions options;
    options.unListenPort = 0;
    options.fnTickMs = [] { return 1000u; };
    options.fnWallSeconds = [] { return 1796000000u; };
    options.fnWriteJson = [](const QJsonObject &, const QString &) { return true; };
    options.fnSend = [](const QByteArray &, const QString &, quint16) {};
    auto *pRooms = new CInformationServices(nullptr, options);
    pRooms->start();
    return pRooms;
}

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_room_datagram";
    static char *pArgv[] = {szName, nullptr};
    static QCoreApplication app(nArgc, pArgv);
    static CInformationServices *pRooms = makeRooms();
    static QUdpSocket sender;
    sender.writeDatagram(pData, qint64(unSize), QHostAddress::LocalHost, pRooms->listenPort());
    pRooms->onReadyRead();
    return 0;
}

// Datagrams at the room terminal services' port (box status announcements, relayed subtitles):
// each input is sent to the service bound on a spare loopback port and handled at once. Clocks,
// addresses and the subtitle store are fixed fakes; outgoing datagrams are only counted.
#include <QCoreApplication>
#include <QHostAddress>
#include <QUdpSocket>

#include "rooms/InformationServices.h"

namespace {
const quint16 kFuzzPort = 29262;

RoomServiceOptions fakeSurroundings()
{
    RoomServiceOptions options;
    options.unListenPort = kFuzzPort;
    options.nTickMs = 0;
    options.fnTickMs = [] { return 1000u; };
    options.fnWallSeconds = [] { return 1796000000u; };
    options.fnLocalIp = [] { return QStringLiteral("127.0.0.1"); };
    options.fnBroadcastIp = [] { return QStringLiteral("127.255.255.255"); };
    options.fnReadJson = [](const QString &) { return QJsonObject(); };
    options.fnWriteJson = [](const QJsonObject &, const QString &) { return true; };
    options.fnSend = [](const QByteArray &, const QString &, quint16) {};
    return options;
}
}

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_room_datagram";
    static char *pArgv[] = {szName, nullptr};
    static QCoreApplication *pApp = new QCoreApplication(nArgc, pArgv);
    static CInformationServices *pRooms = new CInformationServices(nullptr, fakeSurroundings());
    static bool bStarted = (pRooms->start(), true);
    Q_UNUSED(bStarted);
    static QUdpSocket *pSender = new QUdpSocket(pApp);
    pSender->writeDatagram(pData, qint64(unSize), QHostAddress::LocalHost, kFuzzPort);
    pRooms->onReadyRead();
    return 0;
}

#include "rooms/InformationServices.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include "log/Log.h"
#include "platform/MonotonicClock.h"
#include "rooms/JsonRead.h"
#include "rooms/RoomDatagrams.h"
#include "rooms/StbRules.h"
#include "rooms/SubtitleRules.h"

namespace {
const QString kSubtitleFile = QStringLiteral("./subtitle.conf");
const int kMulticastTtl = 10;
}

CInformationServices::CInformationServices(QObject *parent, const RoomServiceOptions &options)
    : QObject(parent)
    , options(options)
{
    resolveDefaults();
    connect(&udpSocket, &QUdpSocket::readyRead, this, &CInformationServices::onReadyRead);
    connect(&timerSend, &QTimer::timeout, this, &CInformationServices::onSendMsg);
}

CInformationServices::~CInformationServices() = default;

void CInformationServices::start()
{
    // Other programs on the cashier PC listen on the same port, so the address is shared.
    if (!udpSocket.bind(QHostAddress::AnyIPv4, options.unListenPort,
                        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        WRITE_LOG(g_printerLog, QStringLiteral("UDP端口%1绑定失败：%2，收不到机顶盒状态")
                                    .arg(options.unListenPort)
                                    .arg(udpSocket.errorString()));
    udpSocket.joinMulticastGroup(QHostAddress(options.strStatusGroup));
    udpSocket.setSocketOption(QAbstractSocket::MulticastTtlOption, kMulticastTtl);
    udpSocket.setSocketOption(QAbstractSocket::MulticastLoopbackOption, 0);
    loadSubtitles();
    if (options.nTickMs > 0) {
        timerSend.setInterval(options.nTickMs);
        timerSend.start();
    }
}

// Fills the clocks the caller left empty with the system's; other empty hooks answer "nothing".
void CInformationServices::resolveDefaults()
{
    if (!options.fnTickMs)
        options.fnTickMs = [] { return Platform::getTickMs(); };
    if (!options.fnWallSeconds)
        options.fnWallSeconds = [] { return quint32(QDateTime::currentSecsSinceEpoch()); };
    if (!options.fnLocalIp)
        options.fnLocalIp = [] { return QString(); };
    if (!options.fnBroadcastIp)
        options.fnBroadcastIp = [] { return QString(); };
    if (!options.fnReadJson)
        options.fnReadJson = [](const QString &) { return QJsonObject(); };
    if (!options.fnWriteJson)
        options.fnWriteJson = [](const QJsonObject &, const QString &) { return false; };
}

quint16 CInformationServices::listenPort() const
{
    return udpSocket.localPort();
}

// ---- Datagram loop and registry ----

void CInformationServices::onReadyRead()
{
    while (udpSocket.hasPendingDatagrams()) {
        const qint64 llSize = udpSocket.pendingDatagramSize();
        QByteArray baDatagram(int(qMax<qint64>(llSize, 0)), '\0');
        QHostAddress sender;
        const qint64 llRecv = udpSocket.readDatagram(baDatagram.data(), baDatagram.size(), &sender);
        if (llRecv != llSize) {
            WRITE_LOG(g_vodLog, QStringLiteral("读取数据包错误，nRecv=%1").arg(llSize));
            continue;
        }
        handleDatagram(baDatagram, sender);
    }
}

void CInformationServices::handleDatagram(const QByteArray &baDatagram, const QHostAddress &sender)
{
    // Some senders end the text with a zero byte; the JSON is what comes before it.
    const QByteArray baText(baDatagram.constData(), int(qstrnlen(baDatagram.constData(), uint(baDatagram.size()))));
    const QJsonObject objDatagram = QJsonDocument::fromJson(baText).object();
    const QString strQuery = JsonRead::text(objDatagram.value(QStringLiteral("query")));
    if (strQuery == QLatin1String("stbInfo")) {
        handleStatus(objDatagram, sender);
    } else if (strQuery == QLatin1String("subtitle")) {
        WRITE_LOG(g_printerLog, QStringLiteral("字幕消息，从打印控件接收:%1").arg(QString::fromUtf8(baText)));
        bool bFromNetwork = true;
        handleSubtitle(objDatagram.value(QStringLiteral("data")), bFromNetwork);
    }
}

void CInformationServices::handleStatus(const QJsonObject &objStatus, const QHostAddress &sender)
{
    const StbInfo stbInfo = StbRules::parseStatus(objStatus, QHostAddress(sender.toIPv4Address()).toString(),
                                                  options.fnTickMs());
    WRITE_LOG(g_vodLog, QStringLiteral("机顶盒状态信息更新:ip:%1 room:%2 云账号:%3")
                            .arg(stbInfo.strIp, stbInfo.roomName, QString::number(stbInfo.unAccount)));
    StbRules::upsert(vecStbInfo, stbInfo);
}

const StbInfo *CInformationServices::findStb(quint32 unAccount) const
{
    const int nIndex = StbRules::indexOf(vecStbInfo, unAccount);
    return nIndex >= 0 ? &vecStbInfo.at(nIndex) : nullptr;
}

QString CInformationServices::getStbList()
{
    QJsonArray arrOnline;
    for (const StbInfo &stbInfo : qAsConst(vecStbInfo)) {
        const quint32 unNow = options.fnTickMs();
        if (StbRules::isOnline(stbInfo.unTime, unNow)) {
            arrOnline.append(StbRules::listEntry(stbInfo));
            continue;
        }
        WRITE_LOG(g_vodLog, QStringLiteral("机顶盒离线：ip:%1,room:%2, 离线时间:%3")
                                .arg(stbInfo.strIp, stbInfo.roomName, QString::number(unNow - stbInfo.unTime)));
    }
    return StbRules::listReply(arrOnline);
}

QVector<StbInfo> CInformationServices::stbInfos()
{
    return vecStbInfo;
}

// ---- Datagrams to the rooms and to the other print controls ----

void CInformationServices::sendDatagram(const QByteArray &baData, const QString &strIp, quint16 unPort)
{
    if (options.fnSend) {
        options.fnSend(baData, strIp, unPort);
        return;
    }
    QHostAddress address;
    // An address that is not IPv4 text (e.g. no interface was found) cannot be sent to.
    if (!address.setAddress(strIp) || address.protocol() != QAbstractSocket::IPv4Protocol)
        return;
    udpSocket.writeDatagram(baData, address, unPort);
}

void CInformationServices::sendRoomCommand(qint32 &nType, const QString &strContent, quint32 unTimes,
                                           const QString &strIp)
{
    const QByteArray baCommand = RoomDatagrams::roomCommand(nType, strContent, unTimes, options.fnLocalIp());
    if (!strIp.isEmpty()) {
        // Boxes get no acknowledgement channel; the second copy makes up for a lost datagram.
        sendDatagram(baCommand, strIp, options.unRoomPort);
        sendDatagram(baCommand, strIp, options.unRoomPort);
        return;
    }
    sendDatagram(baCommand, options.fnBroadcastIp(), options.unRoomPort);
    sendDatagram(baCommand, options.strRoomGroup, options.unRoomPort);
}

void CInformationServices::sendSubtitleSync(const QString &strText)
{
    const QByteArray baPayload = RoomDatagrams::syncPayload(strText);
    sendDatagram(baPayload, options.fnBroadcastIp(), options.unSyncPort);
    sendDatagram(baPayload, options.strRoomGroup, options.unSyncPort);
}

// ---- Subtitle schedule ----

void CInformationServices::handleSubtitle(const QJsonValue &command, bool &bFromNetwork)
{
    const Subtitle subtitle = SubtitleRules::fromCommand(command);
    const qint32 nDelete = SubtitleRules::deleteMode(command);
    if (nDelete > 0)
        deleteSubtitles(command, nDelete, bFromNetwork);
    else if (subtitle.cashier_push_id == 0)
        addSubtitle(subtitle);
    else
        addPushedSubtitle(subtitle);
}

void CInformationServices::deleteSubtitles(const QJsonValue &command, qint32 nDelete, bool bFromNetwork)
{
    // Only the cashier's own deletes are passed on; relayed ones would bounce between print controls.
    if (!bFromNetwork)
        sendSubtitleSync(RoomDatagrams::subtitleSyncText(command));
    if (nDelete == SubtitleRules::kDeleteAll)
        vecSubtitle.clear();
    else
        SubtitleRules::removeByPushId(vecSubtitle, SubtitleRules::fromCommand(command).cashier_push_id);
    saveSubtitles(vecSubtitle);
}

void CInformationServices::addSubtitle(const Subtitle &subtitle)
{
    if (subtitle.count <= 0)
        return;
    Subtitle record = subtitle;
    record.start_time = 0;
    record.end_time = 0;
    appendSubtitle(record);
}

void CInformationServices::addPushedSubtitle(const Subtitle &subtitle)
{
    const auto it = mapPushTime.constFind(subtitle.cashier_push_id);
    if (it != mapPushTime.constEnd() && it.value() == subtitle.time)
        return; // the same push reached us twice (cashier and relay)
    const bool bKnown = it != mapPushTime.constEnd();
    if (bKnown)
        mapPushTime.insert(subtitle.cashier_push_id, subtitle.time);
    saveSubtitles(appendSubtitle(subtitle));
    if (!bKnown)
        mapPushTime.insert(subtitle.cashier_push_id, subtitle.time);
}

QVector<Subtitle> CInformationServices::appendSubtitle(const Subtitle &subtitle)
{
    vecSubtitle.append(subtitle);
    return vecSubtitle;
}

void CInformationServices::onSendMsg()
{
    if (processSubtitles(vecSubtitle))
        saveSubtitles(vecSubtitle);
}

bool CInformationServices::processSubtitles(QVector<Subtitle> &vecList)
{
    if (vecList.isEmpty())
        return false;
    const quint32 unNow = options.fnWallSeconds();
    bool bChanged = false;
    for (int i = 0; i < vecList.size();) {
        Subtitle &subtitle = vecList[i];
        if (!SubtitleRules::isActive(subtitle, unNow)) {
            WRITE_LOG(g_printerLog, QStringLiteral("字幕消息，删除: %1 nCount: %2, EndTime: %3")
                                        .arg(subtitle.remark, QString::number(subtitle.count), QString::number(subtitle.end_time)));
            vecList.remove(i);
            bChanged = true;
            continue;
        }
        if (SubtitleRules::isDue(subtitle, unNow)) {
            WRITE_LOG(g_printerLog, QStringLiteral("字幕消息，发送内容:%1, nCount:%2, accounts:%3")
                                        .arg(subtitle.remark, QString::number(subtitle.count), subtitle.accountIds));
            sendSubtitle(subtitle);
            subtitle.lastSendTime = unNow;
            if (subtitle.count != Subtitle::kRepeatUntilEnd)
                --subtitle.count;
        }
        ++i;
    }
    return bChanged;
}

void CInformationServices::sendSubtitle(const Subtitle &subtitle)
{
    qint32 nType = RoomDatagrams::kTypeSubtitle;
    if (subtitle.accountIds.isEmpty()) {
        sendRoomCommand(nType, subtitle.remark, subtitle.time, QString());
        return;
    }
    const QVector<quint32> vecAccounts = SubtitleRules::splitAccounts(subtitle.accountIds);
    for (const quint32 unAccount : vecAccounts) {
        const StbInfo *pStbInfo = findStb(unAccount);
        if (pStbInfo)
            sendRoomCommand(nType, subtitle.remark, subtitle.time, pStbInfo->strIp);
    }
}

void CInformationServices::loadSubtitles()
{
    const QVector<Subtitle> vecLoaded = SubtitleRules::fromFile(options.fnReadJson(kSubtitleFile));
    if (vecLoaded.isEmpty())
        return;
    vecSubtitle += vecLoaded;
}

void CInformationServices::saveSubtitles(const QVector<Subtitle> &vecList)
{
    options.fnWriteJson(SubtitleRules::toFile(vecList), kSubtitleFile);
}

QVector<Subtitle> CInformationServices::subtitles()
{
    return vecSubtitle;
}

#include "commands/CommandDispatcher.h"

#include <QDateTime>
#include <QJsonDocument>

#include "commands/PrinterJson.h"
#include "commands/PrinterList.h"
#include "commands/ReceiptLogo.h"
#include "log/Log.h"
#include "platform/Printers.h"
#include "printing/FileLoader.h"
#include "printing/PrintJob.h"
#include "printing/PrinterQueue.h"
#include "rooms/InformationServices.h"
#include "rooms/RoomDatagrams.h"
#include "update/AutoUpdate.h"
#include "update/UpdaterConfig.h"

namespace {
const QString kCode200 = QStringLiteral("{\"code\":200}");
const QString kCode0 = QStringLiteral("{\"code\":0}");
const QString kCode1 = QStringLiteral("{\"code\":1}");

// A key counts as present when it holds anything but null.
bool isPresent(const QJsonObject &obj, const QString &strKey)
{
    const QJsonValue value = obj.value(strKey);
    return !value.isUndefined() && !value.isNull();
}

// "open" / "close" pick one of two command types; anything else is refused with -1.
int pickOpenClose(const QJsonObject &obj, int nOpenType, int nCloseType)
{
    const QString strQuery = obj.value(QStringLiteral("query")).toString();
    if (strQuery == QLatin1String("open"))
        return nOpenType;
    if (strQuery == QLatin1String("close"))
        return nCloseType;
    return -1;
}
}

CCommandDispatcher::CCommandDispatcher(const CommandServices &services)
    : services(services)
{
}

void CCommandDispatcher::dispatch(const QByteArray &baBody, const ReplyFunction &fnReply)
{
    const QJsonObject objRequest = QJsonDocument::fromJson(baBody).object();
    if (objRequest.isEmpty()) {
        WRITE_LOG(g_printerLog, QStringLiteral("http连接数据错误，len: %1, data: %2")
                                    .arg(QString::number(baBody.size()), QString::fromUtf8(baBody)));
        fnReply(kCode0);
        return;
    }
    const QString strMsg = objRequest.value(QStringLiteral("Msg")).toString();
    // The two commands that ask the printing system answer when the printer lister does.
    if (strMsg.isEmpty()) {
        cmdPrint(objRequest, fnReply);
        return;
    }
    if (strMsg == QLatin1String("PrinterStatus")) {
        cmdPrinterStatus(fnReply);
        return;
    }

    using Row = QString (*)(CCommandDispatcher *, const QJsonObject &);
    static const QList<QPair<QString, Row>> kTable = {
        {QStringLiteral("Settings"), [](CCommandDispatcher *p, const QJsonObject &o) { return p->cmdSettings(o); }},
        {QStringLiteral("InfoData"), [](CCommandDispatcher *p, const QJsonObject &) { return p->cmdInfoData(); }},
        {QStringLiteral("FireAlarm"), [](CCommandDispatcher *p, const QJsonObject &o) { return p->cmdFireAlarm(o); }},
        {QStringLiteral("CloseRoom"), [](CCommandDispatcher *p, const QJsonObject &o) { return p->cmdCloseRoom(o); }},
        {QStringLiteral("SetRoomArea"), [](CCommandDispatcher *p, const QJsonObject &o) { return p->cmdSetRoomArea(o); }},
        {QStringLiteral("GetRoomArea"), [](CCommandDispatcher *p, const QJsonObject &) { return p->cmdGetRoomArea(); }},
        {QStringLiteral("SendMessage"), [](CCommandDispatcher *p, const QJsonObject &o) { return p->cmdSendMessage(o); }},
        {QStringLiteral("UpdateConfig"), [](CCommandDispatcher *p, const QJsonObject &o) { return p->cmdUpdateConfig(o); }},
        {QStringLiteral("DrinkMsg"), [](CCommandDispatcher *p, const QJsonObject &o) { return p->cmdDrinkMsg(o); }},
    };
    for (const auto &row : kTable) {
        if (row.first == strMsg) {
            fnReply(row.second(this, objRequest));
            return;
        }
    }
    fnReply(kCode0);
}

void CCommandDispatcher::cmdPrint(const QJsonObject &objRequest, const ReplyFunction &fnReply)
{
    QString strHtml = objRequest.value(QStringLiteral("data")).toString();
    if (strHtml.isEmpty()) {
        WRITE_LOG(g_printerLog, QStringLiteral("printer content is empty"));
        fnReply(kCode1);
        return;
    }
    PrintJob job;
    if (hasLogoTag(strHtml)) {
        const QString strAddress = extractLogoAddress(strHtml);
        const QString strFile = services.pLogos->loadLogo(strAddress);
        job.strLogo = services.pLogos->strImageDir + QLatin1Char('/') + strFile;
        if (!strAddress.isEmpty())
            strHtml.replace(strAddress, job.strLogo);
    }
    job.strContent = strHtml;

    const bool bNamed = isPresent(objRequest, QStringLiteral("Name"));
    if (bNamed) {
        // Queued at once so receipts keep their order; the print thread takes this printer if it is
        // installed and otherwise the default one, without a not-found line (the reply says so).
        job.strName = objRequest.value(QStringLiteral("Name")).toString();
        job.bNameUnchecked = true;
    }
    if (isPresent(objRequest, QStringLiteral("PrinterLeft")))
        job.nLeft = objRequest.value(QStringLiteral("PrinterLeft")).toInt();
    if (isPresent(objRequest, QStringLiteral("Width")))
        job.nWidth = objRequest.value(QStringLiteral("Width")).toInt();
    job.llQueuedMs = QDateTime::currentMSecsSinceEpoch();
    services.pPrinterQueue->addPrintJob(job);
    if (!bNamed) {
        fnReply(kCode1);
        return;
    }
    const QString strName = job.strName;
    services.pPrinterLister->queryPrinters([fnReply, strName](const QList<Platform::PrinterFacts> &lstPrinters) {
        for (const Platform::PrinterFacts &printer : lstPrinters) {
            if (printer.strName == strName) {
                fnReply(kCode200);
                return;
            }
        }
        fnReply(kCode1);
    });
}

QString CCommandDispatcher::cmdSettings(const QJsonObject &objRequest)
{
    const QJsonValue data = objRequest.value(QStringLiteral("data"));
    if (!data.isArray())
        return kCode0;
    const bool bStored = services.pStore->writeJsonFile(objRequest, QStringLiteral("./PrinterConfig.json"));
    applyPrinterEntries(data.toArray());
    return bStored ? kCode200 : kCode0;
}

QString CCommandDispatcher::cmdInfoData()
{
    return services.pRooms->getStbList();
}

void CCommandDispatcher::cmdPrinterStatus(const ReplyFunction &fnReply)
{
    services.pPrinterLister->queryPrinters([fnReply](const QList<Platform::PrinterFacts> &lstPrinters) {
        const QByteArray baList = QJsonDocument(buildPrinterList(lstPrinters)).toJson(QJsonDocument::Indented);
        fnReply(QStringLiteral("{\"code\":200, \"data\":%1}").arg(QString::fromUtf8(baList)));
    });
}

QString CCommandDispatcher::cmdFireAlarm(const QJsonObject &objRequest)
{
    qint32 nType = pickOpenClose(objRequest, RoomDatagrams::kTypeFireAlarmOn, RoomDatagrams::kTypeFireAlarmOff);
    if (nType < 0)
        return kCode0;
    services.pRooms->sendRoomCommand(nType, QString(), 1, QString());
    return kCode200;
}

QString CCommandDispatcher::cmdCloseRoom(const QJsonObject &objRequest)
{
    qint32 nType = pickOpenClose(objRequest, RoomDatagrams::kTypeOpenRoom, RoomDatagrams::kTypeCloseRoom);
    if (nType < 0)
        return kCode0;
    services.pRooms->sendRoomCommand(nType, QString(), 0, objRequest.value(QStringLiteral("ip")).toString());
    return kCode200;
}

QString CCommandDispatcher::cmdSetRoomArea(const QJsonObject &objRequest)
{
    return services.pStore->writeJsonFile(objRequest, QStringLiteral("./RoomArea.json")) ? kCode200 : kCode0;
}

QString CCommandDispatcher::cmdGetRoomArea()
{
    const QJsonObject objArea = services.pStore->readJsonFile(QStringLiteral("./RoomArea.json"));
    if (objArea.isEmpty())
        return QString();
    return QString::fromUtf8(QJsonDocument(objArea).toJson(QJsonDocument::Indented));
}

QString CCommandDispatcher::cmdSendMessage(const QJsonObject &objRequest)
{
    bool bFromNetwork = false;
    services.pRooms->handleSubtitle(objRequest.value(QStringLiteral("data")), bFromNetwork);
    return kCode200;
}

QString CCommandDispatcher::cmdUpdateConfig(const QJsonObject &objRequest)
{
    PrinterJson *pStore = services.pStore;
    const auto fnRead = [pStore](const QString &strName) { return pStore->readJsonFile(strName, true); };
    const auto fnWrite = [pStore](const QJsonObject &obj, const QString &strName) {
        return pStore->writeJsonFile(obj, strName);
    };
    if (UpdaterConfig::update(objRequest, fnRead, fnWrite))
        services.pUpdater->startUpdater();
    return kCode200;
}

QString CCommandDispatcher::cmdDrinkMsg(const QJsonObject &objRequest)
{
    qint32 nType = objRequest.value(QStringLiteral("type")).toInt();
    services.pRooms->sendRoomCommand(nType, objRequest.value(QStringLiteral("content")).toString(), 0,
                                          objRequest.value(QStringLiteral("ip")).toString());
    return kCode200;
}

// Printer geometry from "./PrinterConfig.json" and from the "Settings" command.
void CCommandDispatcher::loadPrinterConfig()
{
    // A broken file here means every printer's geometry is gone: someone must find that in the log.
    const QJsonObject objConfig = services.pStore->readJsonFile(QStringLiteral("./PrinterConfig.json"), true);
    const QJsonValue data = objConfig.value(QStringLiteral("data"));
    if (!data.isArray())
        return;
    applyPrinterEntries(data.toArray());
}

void CCommandDispatcher::applyPrinterEntries(const QJsonArray &arrEntries)
{
    // One record for the whole walk: a member an entry lacks keeps the previous entry's value.
    PrintJob record;
    for (const QJsonValue &value : arrEntries) {
        const QJsonObject objEntry = value.toObject();
        const QJsonValue name = objEntry.value(QStringLiteral("Name"));
        if (name.isString())
            record.strName = name.toString();
        if (objEntry.contains(QStringLiteral("PrinterLeft")))
            record.nLeft = objEntry.value(QStringLiteral("PrinterLeft")).toInt();
        if (objEntry.contains(QStringLiteral("Width")))
            record.nWidth = objEntry.value(QStringLiteral("Width")).toInt();
        if (objEntry.contains(QStringLiteral("Height")))
            record.nHeight = objEntry.value(QStringLiteral("Height")).toInt();
        services.pPrinterQueue->setPrinterConfig(record);
    }
}

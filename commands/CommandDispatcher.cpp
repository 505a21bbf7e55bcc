// The command dispatcher of the application object: one JSON command in, one reply text out.
#include "app/MainApp.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>

#include <memory>

#include "commands/PrinterList.h"
#include "commands/ReceiptLogo.h"
#include "log/Log.h"
#include "platform/Printers.h"
#include "printing/FileLoader.h"
#include "printing/PrintJob.h"
#include "printing/PrinterQueue.h"
#include "rooms/InformationServices.h"
#include "update/AutoUpdate.h"

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

void CMainApp::dispatchCommand(const QByteArray &baBody, const ReplyFunction &fnReply)
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

    using Row = QString (*)(CMainApp *, const QJsonObject &);
    static const QList<QPair<QString, Row>> kTable = {
        {QStringLiteral("Settings"), [](CMainApp *p, const QJsonObject &o) { return p->cmdSettings(o); }},
        {QStringLiteral("InfoData"), [](CMainApp *p, const QJsonObject &) { return p->cmdInfoData(); }},
        {QStringLiteral("FireAlarm"), [](CMainApp *p, const QJsonObject &o) { return p->cmdFireAlarm(o); }},
        {QStringLiteral("CloseRoom"), [](CMainApp *p, const QJsonObject &o) { return p->cmdCloseRoom(o); }},
        {QStringLiteral("SetRoomArea"), [](CMainApp *p, const QJsonObject &o) { return p->cmdSetRoomArea(o); }},
        {QStringLiteral("GetRoomArea"), [](CMainApp *p, const QJsonObject &) { return p->cmdGetRoomArea(); }},
        {QStringLiteral("SendMessage"), [](CMainApp *p, const QJsonObject &o) { return p->cmdSendMessage(o); }},
        {QStringLiteral("UpdateConfig"), [](CMainApp *p, const QJsonObject &o) { return p->cmdUpdateConfig(o); }},
        {QStringLiteral("DrinkMsg"), [](CMainApp *p, const QJsonObject &o) { return p->cmdDrinkMsg(o); }},
    };
    for (const auto &row : kTable) {
        if (row.first == strMsg) {
            fnReply(row.second(this, objRequest));
            return;
        }
    }
    fnReply(kCode0);
}

QString CMainApp::dispatchCommand(const QByteArray &baBody)
{
    // Shared with the reply function: should the event loop be told to exit first, it outlives this call.
    struct Outcome
    {
        QString strReply;
        bool bDone = false;
        QEventLoop loop;
    };
    const auto pOutcome = std::make_shared<Outcome>();
    dispatchCommand(baBody, [pOutcome](const QString &strReply) {
        pOutcome->strReply = strReply;
        pOutcome->bDone = true;
        pOutcome->loop.quit();
    });
    if (!pOutcome->bDone)
        pOutcome->loop.exec();
    return pOutcome->strReply;
}

void CMainApp::cmdPrint(const QJsonObject &objRequest, const ReplyFunction &fnReply)
{
    QString strHtml = objRequest.value(QStringLiteral("data")).toString();
    if (strHtml.isEmpty()) {
        WRITE_LOG(g_printerLog, QStringLiteral("printer content is empty"));
        fnReply(kCode1);
        return;
    }
    PrintJob job;
    if (strHtml.contains(QLatin1String("<img  src="))) {
        const QString strAddress = extractLogoAddress(strHtml);
        const QString strFile = pFileLoader->loadLogo(strAddress);
        job.strLogo = pFileLoader->strImageDir + QLatin1Char('/') + strFile;
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
    pPrinterQueue->addPrintJob(job);
    if (!bNamed) {
        fnReply(kCode1);
        return;
    }
    const QString strName = job.strName;
    pPrinterLister->queryPrinters([fnReply, strName](const QList<Platform::PrinterFacts> &lstPrinters) {
        for (const Platform::PrinterFacts &printer : lstPrinters) {
            if (printer.strName == strName) {
                fnReply(kCode200);
                return;
            }
        }
        fnReply(kCode1);
    });
}

QString CMainApp::cmdSettings(const QJsonObject &objRequest)
{
    const QJsonValue data = objRequest.value(QStringLiteral("data"));
    if (!data.isArray())
        return kCode0;
    const bool bStored = writeJsonFile(objRequest, QStringLiteral("./PrinterConfig.json"));
    applyPrinterEntries(data.toArray());
    return bStored ? kCode200 : kCode0;
}

QString CMainApp::cmdInfoData()
{
    return pInformationServices->getStbList();
}

void CMainApp::cmdPrinterStatus(const ReplyFunction &fnReply)
{
    pPrinterLister->queryPrinters([fnReply](const QList<Platform::PrinterFacts> &lstPrinters) {
        const QByteArray baList = QJsonDocument(buildPrinterList(lstPrinters)).toJson(QJsonDocument::Indented);
        fnReply(QStringLiteral("{\"code\":200, \"data\":%1}").arg(QString::fromUtf8(baList)));
    });
}

QString CMainApp::cmdFireAlarm(const QJsonObject &objRequest)
{
    qint32 nType = pickOpenClose(objRequest, 5, 6);
    if (nType < 0)
        return kCode0;
    pInformationServices->sendRoomCommand(nType, QString(), 1, QString());
    return kCode200;
}

QString CMainApp::cmdCloseRoom(const QJsonObject &objRequest)
{
    qint32 nType = pickOpenClose(objRequest, 3, 4);
    if (nType < 0)
        return kCode0;
    pInformationServices->sendRoomCommand(nType, QString(), 0, objRequest.value(QStringLiteral("ip")).toString());
    return kCode200;
}

QString CMainApp::cmdSetRoomArea(const QJsonObject &objRequest)
{
    return writeJsonFile(objRequest, QStringLiteral("./RoomArea.json")) ? kCode200 : kCode0;
}

QString CMainApp::cmdGetRoomArea()
{
    const QJsonObject objArea = readJsonFile(QStringLiteral("./RoomArea.json"));
    if (objArea.isEmpty())
        return QString();
    return QString::fromUtf8(QJsonDocument(objArea).toJson(QJsonDocument::Indented));
}

QString CMainApp::cmdSendMessage(const QJsonObject &objRequest)
{
    bool bFromNetwork = false;
    pInformationServices->handleSubtitle(objRequest.value(QStringLiteral("data")), bFromNetwork);
    return kCode200;
}

QString CMainApp::cmdUpdateConfig(const QJsonObject &objRequest)
{
    if (updateUpdaterConfig(objRequest))
        pAutoUpdate->startUpdater();
    return kCode200;
}

QString CMainApp::cmdDrinkMsg(const QJsonObject &objRequest)
{
    qint32 nType = objRequest.value(QStringLiteral("type")).toInt();
    pInformationServices->sendRoomCommand(nType, objRequest.value(QStringLiteral("content")).toString(), 0,
                                          objRequest.value(QStringLiteral("ip")).toString());
    return kCode200;
}

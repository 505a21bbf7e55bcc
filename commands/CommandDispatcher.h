#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>

class CAutoUpdate;
class CInformationServices;
class CPrinterLister;
class CPrinterQueue;
class FileLoader;
class PrinterJson;

// What the commands act on; the caller owns each and keeps it alive as long as the dispatcher.
struct CommandServices
{
    CPrinterQueue *pPrinterQueue = nullptr;
    CPrinterLister *pPrinterLister = nullptr;
    PrinterJson *pStore = nullptr;
    CInformationServices *pRooms = nullptr;
    CAutoUpdate *pUpdater = nullptr;
    FileLoader *pLogos = nullptr;
};

// One JSON command in, one reply text out; also applies the stored printer geometry.
class CCommandDispatcher
{
public:
    // Receives a command's reply text; called once, at once or later (printer queries), on the main thread.
    using ReplyFunction = std::function<void(const QString &strReply)>;

    explicit CCommandDispatcher(const CommandServices &services);

    void dispatch(const QByteArray &baBody, const ReplyFunction &fnReply);
    void loadPrinterConfig();
    void applyPrinterEntries(const QJsonArray &arrEntries);

private:
    // One function per command row.
    void cmdPrint(const QJsonObject &objRequest, const ReplyFunction &fnReply);
    QString cmdSettings(const QJsonObject &objRequest);
    QString cmdInfoData();
    void cmdPrinterStatus(const ReplyFunction &fnReply);
    QString cmdFireAlarm(const QJsonObject &objRequest);
    QString cmdCloseRoom(const QJsonObject &objRequest);
    QString cmdSetRoomArea(const QJsonObject &objRequest);
    QString cmdGetRoomArea();
    QString cmdSendMessage(const QJsonObject &objRequest);
    QString cmdUpdateConfig(const QJsonObject &objRequest);
    QString cmdDrinkMsg(const QJsonObject &objRequest);

    CommandServices services;
};

#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>
#include <QVector>

#include "rooms/RoomServiceOptions.h"
#include "rooms/StbInfo.h"
#include "rooms/Subtitle.h"

// The room terminal services: one UDP socket shared with the set-top boxes and the other print
// controls, the registry of boxes built from their announcements, the room command datagrams
// and the subtitle schedule kept in "./subtitle.conf".
class CInformationServices : public QObject
{
    Q_OBJECT
public:
    explicit CInformationServices(QObject *parent = nullptr, const RoomServiceOptions &options = RoomServiceOptions());
    ~CInformationServices() override;

    // Binds the shared port, joins the status group, loads the schedule and starts its timer.
    void start();

    // Registry.
    QString getStbList();
    const StbInfo *findStb(quint32 unAccount) const;

    // Datagrams to the rooms and to the other print controls.
    void sendRoomCommand(qint32 &nType, const QString &strContent, quint32 unTimes, const QString &strIp);
    void sendSubtitleSync(const QString &strText);

    // Subtitle schedule.
    void handleSubtitle(const QJsonValue &command, bool &bFromNetwork);
    bool processSubtitles(QVector<Subtitle> &vecList);
    void sendSubtitle(const Subtitle &subtitle);
    void loadSubtitles();
    void saveSubtitles(const QVector<Subtitle> &vecList);

    // Snapshots for diagnostics and tests.
    QVector<StbInfo> stbInfos();
    QVector<Subtitle> subtitles();
    quint16 listenPort() const;

public slots:
    void onReadyRead();
    void onSendMsg();

private:
    void resolveDefaults();
    void handleDatagram(const QByteArray &baDatagram, const QHostAddress &sender);
    void handleStatus(const QJsonObject &objStatus, const QHostAddress &sender);
    void deleteSubtitles(const QJsonValue &command, qint32 nDelete, bool bFromNetwork);
    void addSubtitle(const Subtitle &subtitle);
    void addPushedSubtitle(const Subtitle &subtitle);
    QVector<Subtitle> appendSubtitle(const Subtitle &subtitle);
    void sendDatagram(const QByteArray &baData, const QString &strIp, quint16 unPort);

    QUdpSocket udpSocket;
    QVector<StbInfo> vecStbInfo;
    QVector<Subtitle> vecSubtitle;
    QMap<qint32, quint32> mapPushTime;
    QTimer timerSend;
    RoomServiceOptions options;
};

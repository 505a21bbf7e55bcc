#pragma once

#include <QJsonValue>
#include <QObject>
#include <QString>

// TODO(rooms): registry, room commands, subtitle scheduler.
class CInformationServices : public QObject
{
    Q_OBJECT
public:
    explicit CInformationServices(QObject *parent = nullptr);
    ~CInformationServices() override;

    QString getStbList();
    void sendRoomCommand(qint32 &nType, const QString &strContent, quint32 unTimes, const QString &strIp);
    void handleSubtitle(const QJsonValue &command, bool &bFromNetwork);
};

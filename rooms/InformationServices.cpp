#include "rooms/InformationServices.h"

CInformationServices::CInformationServices(QObject *parent)
    : QObject(parent)
{
}

CInformationServices::~CInformationServices() = default;

QString CInformationServices::getStbList()
{
    return QStringLiteral("{\"code\":180,\"data\":[]}");
}

void CInformationServices::sendRoomCommand(qint32 &nType, const QString &strContent, quint32 unTimes,
                                           const QString &strIp)
{
    Q_UNUSED(nType);
    Q_UNUSED(strContent);
    Q_UNUSED(unTimes);
    Q_UNUSED(strIp);
}

void CInformationServices::handleSubtitle(const QJsonValue &command, bool &bFromNetwork)
{
    Q_UNUSED(command);
    Q_UNUSED(bFromNetwork);
}

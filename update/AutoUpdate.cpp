#include "update/AutoUpdate.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUdpSocket>

#include "log/Log.h"
#include "platform/AtomicFile.h"
#include "platform/ProcessList.h"

namespace {
const QString kUpdaterImage = QStringLiteral("Updater.exe");
const QString kQueryIsUpdated = QStringLiteral("IsUpdated");
const QString kQueryCloseApp = QStringLiteral("CloseApp");
}

CAutoUpdate::CAutoUpdate(const QString &strAppDir, quint16 nListenPort, quint16 nAnswerPort, int nWatchIntervalMs)
    : strAppDir(strAppDir)
    , nListenPort(nListenPort)
    , nAnswerPort(nAnswerPort)
{
    timerWatch.setSingleShot(true);
    timerWatch.setInterval(nWatchIntervalMs);
    connect(&timerWatch, &QTimer::timeout, this, &CAutoUpdate::onUpdaterTimer);
    connect(&udpSocket, &QUdpSocket::readyRead, this, &CAutoUpdate::onReadyRead);
}

void CAutoUpdate::start()
{
    if (!udpSocket.bind(QHostAddress::AnyIPv4, nListenPort, QAbstractSocket::ReuseAddressHint))
        WRITE_LOG(g_printerLog, QStringLiteral("UDP端口%1绑定失败：%2，收不到升级程序的消息")
                                    .arg(nListenPort)
                                    .arg(udpSocket.errorString()));
    startUpdater();
}

void CAutoUpdate::startUpdater()
{
    const QString &strDir = strAppDir;
    strPendingExe = strDir + QStringLiteral("/Updater.exe");
    strPendingExeNew = strDir + QStringLiteral("/Updater/Updater.exe-new");
    strUpdaterExe = strDir + QStringLiteral("/Updater/Updater.exe");
    timerWatch.start();
    const QFileInfo updater(strUpdaterExe);
    if (updater.isFile() && updater.isExecutable())
        QProcess::startDetached(strUpdaterExe, QStringList());
}

void CAutoUpdate::onUpdaterTimer()
{
    if (isProcessRunning(kUpdaterImage)) {
        timerWatch.start();
        return;
    }
    timerWatch.stop();
    // Both may be there; the one beside the installed updater is newer and is installed last.
    for (const QString &strPending : {strPendingExe, strPendingExeNew}) {
        if (QFile::exists(strPending)) {
            replaceFile(strPending, strUpdaterExe);
            QFile::remove(strPending);
        }
    }
}

bool CAutoUpdate::isProcessRunning(const QString &strImageName) const
{
    return Platform::isProcessRunning(strImageName);
}

void CAutoUpdate::replaceFile(const QString &strSource, const QString &strDestination)
{
    QFile source(strSource);
    if (!source.exists() || !source.open(QIODevice::ReadOnly))
        return;
    const QByteArray baContent = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return;

    // Written beside the destination and renamed over it: the installed updater is either the old
    // one or the complete new one, never a torn file. It stays runnable whatever the source's mode.
    QFileDevice::Permissions permissions =
        QFile::exists(strDestination) ? QFile::permissions(strDestination) : source.permissions();
    permissions |= QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (Platform::writeFileAtomically(strDestination, baContent, permissions))
        return;
    WRITE_LOG(g_printerLog, QStringLiteral("更新程序安装失败,%1").arg(strDestination));
}

QByteArray CAutoUpdate::buildAnswer(const QString &strQuery, const QString &strCheck)
{
    const QByteArray baAnswer = "{\"query\":\"" + strQuery.toUtf8() + "\",\"check\":\"" + strCheck.toUtf8() + "\"}";
    return baAnswer.left(kMaxAnswerBytes);
}

QByteArray CAutoUpdate::buildCloseRequest()
{
    return "{\"query\":\"" + kQueryIsUpdated.toUtf8() + "\"}";
}

void CAutoUpdate::sendAnswer(const QString &strQuery)
{
    const QByteArray baAnswer = buildAnswer(strQuery, strCheck);
    const QHostAddress loopback(QHostAddress::LocalHost);
    udpSocket.writeDatagram(baAnswer, loopback, nAnswerPort);
    udpSocket.writeDatagram(baAnswer, loopback, nAnswerPort);
}

void CAutoUpdate::onReadyRead()
{
    while (udpSocket.hasPendingDatagrams()) {
        const qint64 nSize = udpSocket.pendingDatagramSize();
        QByteArray baDatagram(int(qMax<qint64>(nSize, 0)), '\0');
        const qint64 nRead = udpSocket.readDatagram(baDatagram.data(), baDatagram.size());
        if (nRead < 0)
            break;
        if (nRead == nSize)
            handleDatagram(baDatagram);
    }
}

void CAutoUpdate::handleDatagram(const QByteArray &baDatagram)
{
    const QJsonObject objRequest = QJsonDocument::fromJson(baDatagram).object();
    const QString strQuery = objRequest.value(QStringLiteral("query")).toString();
    strCheck = objRequest.value(QStringLiteral("time")).toString();
    if (strQuery != kQueryIsUpdated && strQuery != kQueryCloseApp)
        return;
    sendAnswer(strQuery);
    emit quitRequested();
}

#include "update/AutoUpdate.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QUdpSocket>

#include "app/MainApp.h"
#include "log/Log.h"
#include "platform/ProcessList.h"

namespace {
const QString kUpdaterImage = QStringLiteral("Updater.exe");
const QString kQueryIsUpdated = QStringLiteral("IsUpdated");
const QString kQueryCloseApp = QStringLiteral("CloseApp");
}

CAutoUpdate::CAutoUpdate(CMainApp *pMainApp, quint16 nListenPort, const QString &strAppDir, int nWatchIntervalMs)
    : QObject(nullptr)
    , pMainApp(pMainApp)
    , strAppDir(strAppDir)
{
    timerWatch.setSingleShot(true);
    timerWatch.setInterval(nWatchIntervalMs);
    connect(&timerWatch, &QTimer::timeout, this, &CAutoUpdate::onUpdaterTimer);

    pUdpSocket = new QUdpSocket();
    connect(pUdpSocket, &QUdpSocket::readyRead, this, &CAutoUpdate::onReadyRead);
    pUdpSocket->bind(QHostAddress::AnyIPv4, nListenPort, QAbstractSocket::ReuseAddressHint);

    startUpdater();
}

CAutoUpdate::~CAutoUpdate()
{
    delete pUdpSocket;
    pUdpSocket = nullptr;
}

QString CAutoUpdate::applicationDir() const
{
    if (!strAppDir.isEmpty())
        return strAppDir;
    return pMainApp ? pMainApp->appDir() : QCoreApplication::applicationDirPath();
}

void CAutoUpdate::startUpdater()
{
    const QString strDir = applicationDir();
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
    // Unbuffered: a flush that fails inside commit() would still rename the torn file into place.
    QSaveFile destination(strDestination);
    QFileDevice::Permissions permissions =
        QFile::exists(strDestination) ? QFile::permissions(strDestination) : source.permissions();
    permissions |= QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (destination.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && destination.write(baContent) == baContent.size()
        && destination.setPermissions(permissions) && destination.commit())
        return;
    destination.cancelWriting();
    WRITE_LOG(g_printerLog, QStringLiteral("更新程序安装失败,%1").arg(strDestination));
}

QByteArray CAutoUpdate::buildAnswer(const QString &strQuery, const QString &strCheck)
{
    const QByteArray baAnswer = "{\"query\":\"" + strQuery.toUtf8() + "\",\"check\":\"" + strCheck.toUtf8() + "\"}";
    return baAnswer.left(kMaxAnswerBytes);
}

void CAutoUpdate::sendAnswer(const QString &strQuery)
{
    const QByteArray baAnswer = buildAnswer(strQuery, strCheck);
    const QHostAddress loopback(QHostAddress::LocalHost);
    pUdpSocket->writeDatagram(baAnswer, loopback, kAnswerPort);
    pUdpSocket->writeDatagram(baAnswer, loopback, kAnswerPort);
}

void CAutoUpdate::onReadyRead()
{
    while (pUdpSocket->hasPendingDatagrams()) {
        const qint64 nSize = pUdpSocket->pendingDatagramSize();
        QByteArray baDatagram(int(qMax<qint64>(nSize, 0)), '\0');
        const qint64 nRead = pUdpSocket->readDatagram(baDatagram.data(), baDatagram.size());
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
    QCoreApplication::quit();
}

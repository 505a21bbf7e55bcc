// Start-with-the-computer switch: two independent methods, a shortcut in the user's start-up folder
// (setPowerBoot, the window's check box) and a run entry (setAutoStart / bAutoStart). What each does
// and what it reports is decided here for every system; platform/AutoStart.h does the OS calls.
#include "app/MainApp.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include "log/Log.h"
#include "platform/AutoStart.h"

namespace {
QString getStartupFolder()
{
    const QString strFolder = Platform::startupFolder();
    if (strFolder.isEmpty()) {
        qDebug().noquote() << QStringLiteral("无法获取启动文件夹路径");
        WRITE_LOG(g_printerLog, QStringLiteral("无法获取启动文件夹路径"));
    }
    return strFolder;
}

bool createShortcut(const QString &strTarget, const QString &strLink)
{
    if (Platform::createShortcut(strTarget, strLink))
        return true;
    WRITE_LOG(g_printerLog, QStringLiteral("开机启动项写入失败,%1").arg(strLink));
    return false;
}

bool deleteShortcut(const QString &strLink)
{
    if (!Platform::isShortcutFile(strLink))
        return false;
    const quint32 unError = Platform::deleteShortcut(strLink);
    if (unError == 0) {
        qDebug().noquote() << "Shortcut deleted successfully.";
        return true;
    }
    qDebug().noquote().nospace() << "Failed to delete the shortcut. Error: " << unError;
    WRITE_LOG(g_printerLog, QStringLiteral("开机启动项删除失败,%1,错误:%2").arg(strLink).arg(unError));
    return false;
}

// The run entry's name: the executable's file name up to its first dot.
QString runEntryName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).baseName();
}

// What the run entry starts, with native separators: the executable, or the launcher that started it.
QString nativeProgramPath()
{
    return QDir::toNativeSeparators(Platform::startupProgram(QCoreApplication::applicationFilePath()));
}
}

bool CMainApp::setPowerBoot(bool bOpen)
{
    const QString strExecutable = QCoreApplication::applicationFilePath();
    const QString strName = QFileInfo(strExecutable).completeBaseName();
    QString strFolder = getStartupFolder();
    strFolder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Without a folder there is nowhere sensible to put the shortcut: the file operation is skipped.
    if (!strFolder.isEmpty()) {
        const QString strLink = strFolder + QLatin1Char('/') + strName + Platform::shortcutSuffix();
        if (bOpen) {
            QDir().mkpath(strFolder);
            createShortcut(Platform::startupProgram(strExecutable), strLink);
        } else {
            deleteShortcut(strLink);
        }
    }
    if (bOpen != bPowerBoot) {
        bPowerBoot = bOpen;
        emit isPowerBootChanged();
    }
    return true;
}

void CMainApp::setAutoStart(bool enable)
{
    const QString strName = runEntryName();
    if (!enable) {
        Platform::removeRunEntry(strName);
        return;
    }
    const QString strProgram = nativeProgramPath();
    if (Platform::runEntryProgram(strName) != strProgram)
        Platform::writeRunEntry(strName, strProgram);
}

bool CMainApp::bAutoStart()
{
    return Platform::runEntryProgram(runEntryName()) == nativeProgramPath();
}

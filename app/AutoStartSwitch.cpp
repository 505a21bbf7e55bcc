// Start-with-the-desktop switch of the window: two independent per-user autostart
// entries, one switched by the window (setPowerBoot), one by setAutoStart / bAutoStart. Both start
// the executable, or the package launcher when that started it.
#include "app/MainApp.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include "log/Log.h"
#include "platform/AutoStartEntries.h"

namespace {
const QString kEntrySuffix = QStringLiteral(".desktop");
// Distinct from the window's entry, so switching one never touches the other.
const QString kRunEntrySuffix = QStringLiteral("-run.desktop");

QString getStartupFolder()
{
    const QString strFolder = Platform::autostartFolder();
    if (strFolder.isEmpty()) {
        qDebug().noquote() << QStringLiteral("无法获取启动文件夹路径");
        WRITE_LOG(g_printerLog, QStringLiteral("无法获取启动文件夹路径"));
    }
    return strFolder;
}

bool createShortcut(const QString &strTarget, const QString &strLink, const QString &strName)
{
    if (Platform::writeAutostartEntry(strLink, strTarget, strName))
        return true;
    WRITE_LOG(g_printerLog, QStringLiteral("开机启动项写入失败,%1").arg(strLink));
    return false;
}

bool deleteShortcut(const QString &strLink)
{
    if (!QFileInfo(strLink).isFile())
        return false;
    const int nError = Platform::removeAutostartEntry(strLink);
    if (nError == 0) {
        qDebug().noquote() << "Shortcut deleted successfully.";
        return true;
    }
    qDebug().noquote().nospace() << "Failed to delete the shortcut. Error: " << nError;
    WRITE_LOG(g_printerLog, QStringLiteral("开机启动项删除失败,%1,错误:%2").arg(strLink).arg(nError));
    return false;
}

// The run entry: named after the executable's base name; empty when there is no autostart folder.
QString runEntryPath()
{
    const QString strFolder = Platform::autostartFolder();
    if (strFolder.isEmpty())
        return QString();
    return strFolder + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).baseName()
        + kRunEntrySuffix;
}

// What both entries start: the executable, or the package launcher that started it.
QString nativeProgramPath()
{
    return QDir::toNativeSeparators(Platform::autostartProgram(QCoreApplication::applicationFilePath()));
}
}

bool CMainApp::setPowerBoot(bool bOpen)
{
    const QString strExecutable = QCoreApplication::applicationFilePath();
    const QString strName = QFileInfo(strExecutable).completeBaseName();
    QString strFolder = getStartupFolder();
    strFolder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Without a folder there is nowhere sensible to put the entry: the file operation is skipped.
    if (!strFolder.isEmpty()) {
        const QString strLink = strFolder + QLatin1Char('/') + strName + kEntrySuffix;
        if (bOpen) {
            QDir().mkpath(strFolder);
            createShortcut(Platform::autostartProgram(strExecutable), strLink, strName);
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
    const QString strEntry = runEntryPath();
    if (strEntry.isEmpty())
        return;
    if (!enable) {
        Platform::removeAutostartEntry(strEntry);
        return;
    }
    const QString strName = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    if (Platform::autostartEntryTarget(strEntry) != nativeProgramPath())
        Platform::writeAutostartEntry(strEntry, nativeProgramPath(), strName);
}

bool CMainApp::bAutoStart()
{
    const QString strEntry = runEntryPath();
    return !strEntry.isEmpty() && Platform::autostartEntryTarget(strEntry) == nativeProgramPath();
}

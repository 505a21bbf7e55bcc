#pragma once

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

inline QByteArray readFile(const QString &strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// Today's general log in the folder's "logs" (written every 500 ms by a running service).
inline QString readLog(const QString &strDir)
{
    return readFile(strDir + QDate::currentDate().toString("'/logs/PrinterLog_'yyyy-MM-dd'.log'"));
}

// Making its folder.
inline bool writeFile(const QString &strPath, const QByteArray &baContent, bool bExecutable = false)
{
    QDir().mkpath(QFileInfo(strPath).absolutePath());
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly) && file.write(baContent) == baContent.size()
        && (!bExecutable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

#pragma once

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

// Making its folder.
inline bool writeFile(const QString &strPath, const QByteArray &baContent, bool bExecutable = false)
{
    QDir().mkpath(QFileInfo(strPath).absolutePath());
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly) && file.write(baContent) == baContent.size()
        && (!bExecutable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

#include "UpdaterFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace UpdaterFiles {
QByteArray readAll(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &strPath, const QByteArray &baContent)
{
    QDir().mkpath(QFileInfo(strPath).absolutePath());
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(baContent) == baContent.size();
}

QByteArray fakeBytes(const QByteArray &baTrailer)
{
    return readAll(QStringLiteral(VEXA_FAKE_UPDATER)) + baTrailer;
}

bool installFake(const QString &strPath, const QByteArray &baTrailer, bool bExecutable)
{
    if (!writeAll(strPath, fakeBytes(baTrailer)))
        return false;
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (bExecutable)
        permissions |= QFileDevice::ExeOwner;
    return QFile::setPermissions(strPath, permissions);
}

bool installFakeScript(const QString &strPath)
{
    const QByteArray baScript = "#!/bin/sh\n"
                                "dir=$(dirname \"$0\")\n"
                                "echo $$ >>\"$dir/started.log\"\n"
                                "n=0\n"
                                "while [ -e \"$dir/hold\" ] && [ $n -lt 1000 ]; do sleep 0.02; n=$((n + 1)); done\n";
    return writeAll(strPath, baScript)
        && QFile::setPermissions(strPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

int startCount(const QString &strDir)
{
    return readAll(strDir + QStringLiteral("/started.log")).count('\n');
}
}

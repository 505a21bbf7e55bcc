#include "commands/PrinterJson.h"

#include <QFile>
#include <QJsonDocument>

#include "log/Log.h"

PrinterJson::PrinterJson(const QString &strAppDir)
    : strAppDir(strAppDir)
{
}

QString PrinterJson::resolve(const QString &strFileName) const
{
    if (strFileName.startsWith(QLatin1String("./")))
        return strAppDir + strFileName.mid(1);
    return strFileName;
}

QJsonObject PrinterJson::readJsonFile(const QString &strFileName)
{
    // TODO(http): zero-byte cut, parse diagnostics.
    QFile file(resolve(strFileName));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool PrinterJson::writeJsonFile(const QJsonObject &obj, const QString &strFileName)
{
    // TODO(http): write through a temporary file and rename.
    QFile file(resolve(strFileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        WRITE_LOG(g_printerLog, QStringLiteral("打印机配置写失败,%1").arg(strFileName));
        return false;
    }
    file.write(QJsonDocument(obj).toJson(QJsonDocument::Indented));
    return true;
}

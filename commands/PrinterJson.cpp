#include "commands/PrinterJson.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

#include "log/Log.h"

PrinterJson::PrinterJson(const QString &strAppDir)
    : strAppDir(strAppDir)
{
}

QString PrinterJson::resolve(const QString &strFileName) const
{
    // "./x" and any other relative name live under the application directory, whatever the cwd.
    return QDir::cleanPath(QDir(strAppDir).filePath(strFileName));
}

QJsonObject PrinterJson::readJsonFile(const QString &strFileName, bool bReportBroken)
{
    QFile file(resolve(strFileName));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    QByteArray baText = file.readAll();
    file.close();
    const bool bEmptyFile = baText.isEmpty();
    const int nZero = baText.indexOf('\0');
    if (nZero >= 0)
        baText.truncate(nZero);
    const QJsonDocument document = QJsonDocument::fromJson(baText);
    if (bReportBroken && !bEmptyFile && !document.isObject())
        WRITE_LOG(g_printerLog, QStringLiteral("配置文件解析失败,%1").arg(strFileName));
    return document.object();
}

bool PrinterJson::writeJsonFile(const QJsonObject &obj, const QString &strFileName)
{
    // Written beside the target and renamed over it: a crash or a full disk leaves the old file whole.
    // A short write sets no error of its own, and commit() renames over a buffer that failed to flush,
    // so the write is unbuffered and its count decides before commit().
    const QByteArray baText = QJsonDocument(obj).toJson(QJsonDocument::Indented);
    QSaveFile file(resolve(strFileName));
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(baText) == baText.size()
        && file.commit())
        return true;
    file.cancelWriting();
    WRITE_LOG(g_printerLog, QStringLiteral("打印机配置写失败,%1").arg(strFileName));
    return false;
}

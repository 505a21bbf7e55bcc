#include "commands/PrinterJson.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include "log/Log.h"
#include "platform/AtomicFile.h"

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
    // Replaced whole: a crash or a full disk leaves the old file as it was.
    if (Platform::writeFileAtomically(resolve(strFileName), QJsonDocument(obj).toJson(QJsonDocument::Indented)))
        return true;
    WRITE_LOG(g_printerLog, QStringLiteral("打印机配置写失败,%1").arg(strFileName));
    return false;
}

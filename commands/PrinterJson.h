#pragma once

#include <QJsonObject>
#include <QString>

// Reads and writes one JSON object per file; "./name" stands for the application directory.
class PrinterJson
{
public:
    explicit PrinterJson(const QString &strAppDir);

    QJsonObject readJsonFile(const QString &strFileName);
    // True only when the whole text landed and replaced the old file; otherwise the old file stays.
    bool writeJsonFile(const QJsonObject &obj, const QString &strFileName);

private:
    QString resolve(const QString &strFileName) const;

    QString strAppDir;
};

#pragma once

#include <QJsonObject>
#include <QString>

// The JSON file store: one JSON object per file; "./name" stands for the application directory.
class PrinterJson
{
public:
    explicit PrinterJson(const QString &strAppDir);

    // bReportBroken: a file that is there and not empty but holds no JSON object gets a log line.
    QJsonObject readJsonFile(const QString &strFileName, bool bReportBroken = false);
    // True only when the whole text landed and replaced the old file; otherwise the old file stays.
    bool writeJsonFile(const QJsonObject &obj, const QString &strFileName);

private:
    QString resolve(const QString &strFileName) const;

    QString strAppDir;
};

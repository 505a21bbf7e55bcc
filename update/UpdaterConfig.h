#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

// The updater's settings file "./Updater/Update.conf" as the cashier page may change it.
namespace UpdaterConfig {
using ReadFunction = std::function<QJsonObject(const QString &strFileName)>;
using WriteFunction = std::function<bool(const QJsonObject &obj, const QString &strFileName)>;

// Updates the keys of an existing, non-empty file; true when the device changed and the new text
// landed, i.e. when the updater must be started again to read it.
bool update(const QJsonObject &objRequest, const ReadFunction &fnRead, const WriteFunction &fnWrite);
}

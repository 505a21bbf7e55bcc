#include "update/UpdaterConfig.h"

namespace {
const QString kUpdateConf = QStringLiteral("./Updater/Update.conf");
const QString kKeyDevice = QStringLiteral("device");
const QString kKeyVersion = QStringLiteral("version");
const QString kKeyStartTime = QStringLiteral("startTime");
// A device stored as "66" is pinned by the updater's installer; the page must not overwrite it.
const QString kPinnedDevice = QStringLiteral("66");
}

bool UpdaterConfig::update(const QJsonObject &objRequest, const ReadFunction &fnRead, const WriteFunction &fnWrite)
{
    // The updater owns the file: only keys of an existing, non-empty one are updated (fnRead reports a
    // broken one).
    QJsonObject objConf = fnRead(kUpdateConf);
    if (objConf.isEmpty())
        return false;

    bool bDeviceChanged = false;
    if (objRequest.contains(kKeyDevice)) {
        const QString strStored = objConf.value(kKeyDevice).toString();
        if (strStored != kPinnedDevice) {
            const QString strDevice = objRequest.value(kKeyDevice).toString();
            bDeviceChanged = strDevice != strStored;
            objConf.insert(kKeyDevice, strDevice);
            if (objRequest.contains(kKeyVersion))
                objConf.insert(kKeyVersion, objRequest.value(kKeyVersion).toString());
        }
    }
    if (objRequest.contains(kKeyStartTime))
        objConf.insert(kKeyStartTime, objRequest.value(kKeyStartTime).toString());

    // The updater reads its settings from the file: a change that did not land must not restart it.
    return fnWrite(objConf, kUpdateConf) && bDeviceChanged;
}

#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace Platform {

// Replaces the file at strPath with baContent as a whole, or leaves it as it was: the bytes go to a
// temporary file beside it, which is renamed over it only when every byte landed. Empty permissions
// keep the default ones.
bool writeFileAtomically(const QString &strPath, const QByteArray &baContent,
                         QFileDevice::Permissions permissions = QFileDevice::Permissions());

}

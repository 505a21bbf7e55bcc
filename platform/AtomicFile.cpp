#include "platform/AtomicFile.h"

#include <QSaveFile>

namespace Platform {

bool writeFileAtomically(const QString &strPath, const QByteArray &baContent, QFileDevice::Permissions permissions)
{
    // A short write sets no error of its own, and commit() renames even after a buffered flush failed,
    // so the write is unbuffered and its count decides before commit().
    QSaveFile file(strPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(baContent) == baContent.size()
        && (!permissions || file.setPermissions(permissions)) && file.commit())
        return true;
    file.cancelWriting();
    return false;
}

}

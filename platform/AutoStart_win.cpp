#include "platform/AutoStart.h"

#include <QDir>
#include <QSettings>

#include <windows.h>
#include <shlobj.h>

namespace {
const QString kRunKey = QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");

// The wide path the shell calls take: native separators, kept alive by the caller's string.
LPCWSTR widePath(const QString &strNative)
{
    return reinterpret_cast<LPCWSTR>(strNative.utf16());
}

// A shell link to strTarget saved as strLink: the result of the save, or of the step that failed.
HRESULT saveShellLink(const QString &strTarget, const QString &strLink)
{
    IShellLinkW *pLink = nullptr;
    HRESULT hResult = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void **>(&pLink));
    if (FAILED(hResult))
        return hResult;
    const QString strNativeTarget = QDir::toNativeSeparators(strTarget);
    pLink->SetPath(widePath(strNativeTarget));
    IPersistFile *pFile = nullptr;
    hResult = pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&pFile));
    if (SUCCEEDED(hResult)) {
        const QString strNativeLink = QDir::toNativeSeparators(strLink);
        hResult = pFile->Save(widePath(strNativeLink), TRUE);
        pFile->Release();
    }
    pLink->Release();
    return hResult;
}
}

namespace Platform {
QString startupProgram(const QString &strExecutable)
{
    return strExecutable;
}

QString startupFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    // No owner window, no access token, flag 0: the folder's current path.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_STARTUP, nullptr, 0, szPath)))
        return QString();
    return QString::fromWCharArray(szPath);
}

QString shortcutSuffix()
{
    return QStringLiteral(".lnk");
}

bool createShortcut(const QString &strTarget, const QString &strLink)
{
    // The window's thread has COM already (Qt's OLE drag and drop); the count is only balanced then.
    const HRESULT hInit = CoInitialize(nullptr);
    const HRESULT hResult = saveShellLink(strTarget, strLink);
    if (SUCCEEDED(hInit))
        CoUninitialize();
    return SUCCEEDED(hResult);
}

bool isShortcutFile(const QString &strLink)
{
    const QString strNative = QDir::toNativeSeparators(strLink);
    const DWORD dwAttributes = GetFileAttributesW(widePath(strNative));
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

quint32 deleteShortcut(const QString &strLink)
{
    const QString strNative = QDir::toNativeSeparators(strLink);
    return DeleteFileW(widePath(strNative)) ? 0 : quint32(GetLastError());
}

bool writeRunEntry(const QString &strName, const QString &strProgram)
{
    QSettings settings(kRunKey, QSettings::NativeFormat);
    settings.setValue(strName, strProgram);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

void removeRunEntry(const QString &strName)
{
    QSettings settings(kRunKey, QSettings::NativeFormat);
    settings.remove(strName);
}

QString runEntryProgram(const QString &strName)
{
    QSettings settings(kRunKey, QSettings::NativeFormat);
    return settings.value(strName).toString();
}
}

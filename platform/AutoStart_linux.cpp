#include "platform/AutoStart.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace {
const QString kExecKey = QStringLiteral("Exec=");
// Distinct from the shortcut's entry, so switching one never touches the other.
const QString kRunEntrySuffix = QStringLiteral("-run.desktop");

// Desktop entry string escapes, applied after the Exec quoting: \\ \n \t \r.
QString escapeString(const QString &strValue)
{
    QString strOut;
    for (const QChar ch : strValue) {
        if (ch == QLatin1Char('\\'))
            strOut += QLatin1String("\\\\");
        else if (ch == QLatin1Char('\n'))
            strOut += QLatin1String("\\n");
        else if (ch == QLatin1Char('\t'))
            strOut += QLatin1String("\\t");
        else if (ch == QLatin1Char('\r'))
            strOut += QLatin1String("\\r");
        else
            strOut += ch;
    }
    return strOut;
}

QString unescapeString(const QString &strValue)
{
    QString strOut;
    for (int i = 0; i < strValue.size(); ++i) {
        const QChar ch = strValue.at(i);
        if (ch != QLatin1Char('\\') || i + 1 == strValue.size()) {
            strOut += ch;
            continue;
        }
        const QChar next = strValue.at(++i);
        if (next == QLatin1Char('s'))
            strOut += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            strOut += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            strOut += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            strOut += QLatin1Char('\r');
        else
            strOut += next;
    }
    return strOut;
}

bool isExecSpecial(QChar ch)
{
    return ch == QLatin1Char('"') || ch == QLatin1Char('`') || ch == QLatin1Char('$') || ch == QLatin1Char('\\');
}

// First argument of an unescaped Exec line: quoted ("..." with \x escapes) or up to a blank.
QString firstExecArgument(const QString &strExec)
{
    QString strArg;
    bool bQuoted = false;
    for (int i = 0; i < strExec.size(); ++i) {
        const QChar ch = strExec.at(i);
        if (ch == QLatin1Char('"')) {
            bQuoted = !bQuoted;
        } else if (bQuoted && ch == QLatin1Char('\\') && i + 1 < strExec.size()) {
            strArg += strExec.at(++i);
        } else if (!bQuoted && ch == QLatin1Char(' ')) {
            if (!strArg.isEmpty())
                break;
        } else if (ch == QLatin1Char('%') && i + 1 < strExec.size() && strExec.at(i + 1) == QLatin1Char('%')) {
            strArg += ch;
            ++i;
        } else {
            strArg += ch;
        }
    }
    return strArg;
}

// The Exec= value that runs strProgram: quoted as one argument and escaped as a desktop entry string.
QString execValueForProgram(const QString &strProgram)
{
    QString strQuoted = QStringLiteral("\"");
    for (const QChar ch : strProgram) {
        if (isExecSpecial(ch))
            strQuoted += QLatin1Char('\\');
        // A lone % would start a field code.
        if (ch == QLatin1Char('%'))
            strQuoted += QLatin1Char('%');
        strQuoted += ch;
    }
    strQuoted += QLatin1Char('"');
    return escapeString(strQuoted);
}

// The reverse: the program named by an Exec= value as it stands in the file.
QString programFromExecValue(const QString &strValue)
{
    return firstExecArgument(unescapeString(strValue));
}

// Writes (or replaces, atomically) an entry of type Application that runs strTarget without
// arguments; creates the folder when needed.
bool writeAutostartEntry(const QString &strEntryPath, const QString &strTarget, const QString &strName)
{
    QDir().mkpath(QFileInfo(strEntryPath).absolutePath());
    const QByteArray baEntry = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\n%2%3\nTerminal=false\n")
                                   .arg(escapeString(strName), kExecKey, execValueForProgram(strTarget))
                                   .toUtf8();
    return Platform::writeFileAtomically(strEntryPath, baEntry);
}

// 0 on success, else the system's error number.
int removeAutostartEntry(const QString &strEntryPath)
{
    const QByteArray baPath = QFile::encodeName(strEntryPath);
    return ::unlink(baPath.constData()) == 0 ? 0 : errno;
}

// The program an entry runs (first word of its Exec= line, unquoted); empty when there is none.
QString autostartEntryTarget(const QString &strEntryPath)
{
    QFile file(strEntryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool bInMainGroup = false;
    while (!file.atEnd()) {
        const QString strLine = QString::fromUtf8(file.readLine()).trimmed();
        if (strLine.startsWith(QLatin1Char('[')))
            bInMainGroup = strLine == QLatin1String("[Desktop Entry]");
        else if (bInMainGroup && strLine.startsWith(kExecKey))
            return programFromExecValue(strLine.mid(kExecKey.size()));
    }
    return QString();
}

// The run entry: named after the executable's base name; empty when there is no autostart folder.
QString runEntryPath(const QString &strName)
{
    const QString strFolder = Platform::startupFolder();
    return strFolder.isEmpty() ? QString() : strFolder + QLatin1Char('/') + strName + kRunEntrySuffix;
}
}

namespace Platform {
// "$XDG_CONFIG_HOME/autostart", else "$HOME/.config/autostart"; neither an absolute path: none.
QString startupFolder()
{
    const QString strConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(strConfigHome))
        return QDir::cleanPath(strConfigHome) + QStringLiteral("/autostart");
    const QString strHome = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(strHome))
        return QDir::cleanPath(strHome) + QStringLiteral("/.config/autostart");
    return QString();
}

QString startupProgram(const QString &strExecutable)
{
    const QString strLauncher = qEnvironmentVariable("VEXAPRINTER_LAUNCHER");
    const QFileInfo launcher(strLauncher);
    if (!strLauncher.isEmpty() && launcher.isAbsolute() && launcher.isFile() && launcher.isExecutable())
        return strLauncher;
    return strExecutable;
}

QString shortcutSuffix()
{
    return QStringLiteral(".desktop");
}

bool createShortcut(const QString &strTarget, const QString &strLink)
{
    return writeAutostartEntry(strLink, strTarget, QFileInfo(strLink).completeBaseName());
}

bool isShortcutFile(const QString &strLink)
{
    return QFileInfo(strLink).isFile();
}

quint32 deleteShortcut(const QString &strLink)
{
    return quint32(removeAutostartEntry(strLink));
}

bool writeRunEntry(const QString &strName, const QString &strProgram)
{
    const QString strEntry = runEntryPath(strName);
    return !strEntry.isEmpty() && writeAutostartEntry(strEntry, strProgram, strName);
}

void removeRunEntry(const QString &strName)
{
    const QString strEntry = runEntryPath(strName);
    if (!strEntry.isEmpty())
        removeAutostartEntry(strEntry);
}

QString runEntryProgram(const QString &strName)
{
    const QString strEntry = runEntryPath(strName);
    return strEntry.isEmpty() ? QString() : autostartEntryTarget(strEntry);
}
}

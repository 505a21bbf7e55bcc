#include "platform/AutoStartEntries.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace {
const QString kExecKey = QStringLiteral("Exec=");

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
}

namespace Platform {
QString autostartFolder()
{
    const QString strConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(strConfigHome))
        return QDir::cleanPath(strConfigHome) + QStringLiteral("/autostart");
    const QString strHome = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(strHome))
        return QDir::cleanPath(strHome) + QStringLiteral("/.config/autostart");
    return QString();
}

QString autostartProgram(const QString &strExecutable)
{
    const QString strLauncher = qEnvironmentVariable("VEXAPRINTER_LAUNCHER");
    const QFileInfo launcher(strLauncher);
    if (!strLauncher.isEmpty() && launcher.isAbsolute() && launcher.isFile() && launcher.isExecutable())
        return strLauncher;
    return strExecutable;
}

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

QString programFromExecValue(const QString &strValue)
{
    return firstExecArgument(unescapeString(strValue));
}

bool writeAutostartEntry(const QString &strEntryPath, const QString &strTarget, const QString &strName)
{
    QDir().mkpath(QFileInfo(strEntryPath).absolutePath());
    const QByteArray baEntry = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\n%2%3\nTerminal=false\n")
                                   .arg(escapeString(strName), kExecKey, execValueForProgram(strTarget))
                                   .toUtf8();
    return writeFileAtomically(strEntryPath, baEntry);
}

int removeAutostartEntry(const QString &strEntryPath)
{
    const QByteArray baPath = QFile::encodeName(strEntryPath);
    return ::unlink(baPath.constData()) == 0 ? 0 : errno;
}

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
}

#pragma once

#include <QString>

// Per-user entries that the desktop session starts at log-on (XDG autostart desktop entries).
namespace Platform {
// "$XDG_CONFIG_HOME/autostart", or "$HOME/.config/autostart"; empty when neither is an absolute path.
QString autostartFolder();

// The program an entry for strExecutable should start. The package's launcher names itself in
// VEXAPRINTER_LAUNCHER: it brings the user's copy of the executable up to date (after an upgrade)
// before running it, so an entry must start the launcher, not the copy. Trusted only when it is
// an absolute path to an executable file; otherwise strExecutable.
QString autostartProgram(const QString &strExecutable);

// Writes (or replaces, atomically) an entry of type Application that runs strTarget without arguments.
// Creates the folder when needed.
bool writeAutostartEntry(const QString &strEntryPath, const QString &strTarget, const QString &strName);

// Removes an entry file. Returns 0 on success, else the system's error number.
int removeAutostartEntry(const QString &strEntryPath);

// The program an entry runs (first word of its Exec= line, unquoted); empty when there is none.
QString autostartEntryTarget(const QString &strEntryPath);

// The Exec= value that runs strProgram: quoted as one argument and escaped as a desktop entry string.
QString execValueForProgram(const QString &strProgram);
// The reverse: the program named by an Exec= value as it stands in the file.
QString programFromExecValue(const QString &strValue);
}
